# End-to-end tests: vfspd.exe under Wine, driven over loopback by raw
# datagrams and by libfsplib as a real FSP client.
find_library(FSPLIB fsplib REQUIRED)

add_library(e2e_harness STATIC tests/e2e/Harness.cpp)
add_dependencies(e2e_harness windows_programs)
target_compile_options(e2e_harness PRIVATE ${VFSPD_WARNINGS})
target_compile_definitions(e2e_harness PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
target_link_libraries(e2e_harness PUBLIC vfspd_core gtest)

function(vfspd_e2e_test name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE ${VFSPD_WARNINGS})
  target_link_libraries(${name} PRIVATE e2e_harness ${FSPLIB} gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  # One server at a time per Wine prefix: they share its registry.
  set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 1200)
endfunction()

vfspd_e2e_test(e2e_endpoint tests/e2e/FoundationTest.cpp)
vfspd_e2e_test(e2e_hostile tests/e2e/HostileTest.cpp)
vfspd_e2e_test(e2e_upload tests/e2e/UploadNamespaceTest.cpp)
vfspd_e2e_test(e2e_listing tests/e2e/ListingDownloadTest.cpp)
vfspd_e2e_test(e2e_load tests/e2e/LoadTest.cpp)
vfspd_e2e_test(e2e_confine tests/e2e/ConfinementTest.cpp)
vfspd_e2e_test(e2e_fault tests/e2e/FaultTest.cpp)
target_compile_definitions(e2e_fault PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
target_compile_definitions(e2e_endpoint PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
target_compile_definitions(e2e_confine PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
target_compile_definitions(e2e_upload PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
