# Unit tests of the platform-free core, with the sanitizers on.
add_executable(core_tests
  tests/native/PacketTest.cpp
  tests/native/PolicyPathTest.cpp
  tests/native/LogTextTest.cpp
  tests/native/ListingCacheTest.cpp
  tests/native/ListingTest.cpp
  tests/native/ReplyCacheTest.cpp
)
target_compile_options(core_tests PRIVATE ${VFSPD_WARNINGS} ${VFSPD_SANITIZE})
target_link_libraries(core_tests PRIVATE vfspd_core_sanitized gtest_main)
add_test(NAME core_tests COMMAND core_tests)
