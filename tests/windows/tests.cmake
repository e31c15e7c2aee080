# Windows tests, run under Wine: the registry, settings and log against
# the real platform, and the window in-process.
add_executable(win_tests
  tests/windows/RegistryKeyTest.cpp
  tests/windows/SettingsTest.cpp
  tests/windows/EventLogTest.cpp
  tests/windows/UploadCacheTest.cpp
  tests/windows/WinTestMain.cpp
  ui/vfspd.rc
)
target_compile_options(win_tests PRIVATE ${VFSPD_WARNINGS})
target_link_libraries(win_tests PRIVATE vfspd_win gtest)
add_test(NAME win_tests COMMAND win_tests)
set_tests_properties(win_tests PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
