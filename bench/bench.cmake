# The benchmark: in the Windows tree the bare echo and the call-by-call
# probe, in the native tree the client that drives the echo and vfspd.exe.
# None is built by default; scripts/bench.sh builds them.
if(WIN32)
  add_executable(echo WIN32 EXCLUDE_FROM_ALL bench/echo.cpp)
  target_compile_options(echo PRIVATE ${VFSPD_WARNINGS})
  target_link_libraries(echo PRIVATE ws2_32 user32)
  add_executable(calls EXCLUDE_FROM_ALL bench/calls.cpp)
  target_compile_options(calls PRIVATE ${VFSPD_WARNINGS})
  target_link_libraries(calls PRIVATE gdi32 user32)
else()
  add_custom_target(bench_programs
    COMMAND ${CMAKE_COMMAND} -DWIN_DIR=${VFSPD_WIN_DIR} "-DTARGETS=echo;calls"
            -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/build-windows.cmake
    USES_TERMINAL VERBATIM)
  add_executable(fspbench EXCLUDE_FROM_ALL bench/fspbench.cpp)
  target_compile_options(fspbench PRIVATE ${VFSPD_WARNINGS} -O2)
  target_compile_definitions(fspbench PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
  target_link_libraries(fspbench PRIVATE e2e_harness ${FSPLIB})
  add_dependencies(fspbench bench_programs)
endif()
