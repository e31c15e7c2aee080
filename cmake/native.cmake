# Native tree: the core's unit tests under ASan and UBSan, and the
# end-to-end tests that drive vfspd.exe under Wine.
set(VFSPD_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

# The core twice: sanitized for its unit tests, which alone take the
# sanitizers' link options; plain for the end-to-end harness and the
# benchmark, which must not be slowed by them.
add_library(vfspd_core STATIC ${VFSPD_CORE_SOURCES})
target_compile_options(vfspd_core PRIVATE ${VFSPD_WARNINGS})
target_include_directories(vfspd_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
add_library(vfspd_core_sanitized STATIC ${VFSPD_CORE_SOURCES})
target_compile_options(vfspd_core_sanitized PRIVATE ${VFSPD_WARNINGS} ${VFSPD_SANITIZE})
target_link_options(vfspd_core_sanitized PUBLIC ${VFSPD_SANITIZE})
target_include_directories(vfspd_core_sanitized PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)

# The end-to-end tests and the benchmark start the Windows programs: they
# are built first, in their own tree; a tree not yet configured fails the
# build with a word on what to do.
set(VFSPD_WIN_DIR "${CMAKE_BINARY_DIR}/../win" CACHE PATH "Windows build tree holding vfspd.exe")
add_custom_target(windows_programs
  COMMAND ${CMAKE_COMMAND} -DWIN_DIR=${VFSPD_WIN_DIR} "-DTARGETS=vfspd;closewin;holdfile;planted"
          -P ${CMAKE_CURRENT_LIST_DIR}/build-windows.cmake
  USES_TERMINAL VERBATIM)

add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)
include(${CMAKE_CURRENT_LIST_DIR}/../tests/native/tests.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../tests/e2e/tests.cmake)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  include(${CMAKE_CURRENT_LIST_DIR}/../tests/fuzz/tests.cmake)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../bench/bench.cmake)
