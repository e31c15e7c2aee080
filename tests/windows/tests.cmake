# Windows tests, run under Wine: the registry, settings and log against
# the real platform, and the window in-process.
add_executable(win_tests
  tests/windows/RegistryKeyTest.cpp
  tests/windows/SettingsTest.cpp
  tests/windows/EventLogTest.cpp
  tests/windows/GuiTest.cpp
  tests/windows/MainWindowTest.cpp
  tests/windows/DialogTest.cpp
  tests/windows/UploadCacheTest.cpp
  tests/windows/WinTestMain.cpp
  ui/vfspd.rc
)
target_compile_options(win_tests PRIVATE ${VFSPD_WARNINGS})
target_link_libraries(win_tests PRIVATE vfspd_win gtest)
add_test(NAME win_tests COMMAND win_tests)
set_tests_properties(win_tests PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)

# Without a window manager, Wine waits two seconds for one at every managed
# window that goes away; the test program's windows are made unmanaged.
add_test(NAME win_tests_unmanaged COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} reg add
  "HKCU\\Software\\Wine\\AppDefaults\\win_tests.exe\\X11 Driver" /v Managed /d N /f)
set_tests_properties(win_tests_unmanaged PROPERTIES FIXTURES_SETUP win_unmanaged)
set_tests_properties(win_tests PROPERTIES FIXTURES_REQUIRED win_unmanaged)
