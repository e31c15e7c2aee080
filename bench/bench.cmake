# The benchmark: in the Windows tree the two echo references and the
# call-by-call probe, in the native tree the client that drives them and
# vfspd.exe. None is built by default; scripts/bench.sh builds them.
if(WIN32)
  add_executable(echo WIN32 EXCLUDE_FROM_ALL bench/echo.cpp ui/vfspd.rc)
  target_compile_options(echo PRIVATE ${VFSPD_WARNINGS})
  target_link_libraries(echo PRIVATE ws2_32 gdi32 user32)
  add_executable(calls EXCLUDE_FROM_ALL bench/calls.cpp)
  target_compile_options(calls PRIVATE ${VFSPD_WARNINGS})
  target_link_libraries(calls PRIVATE gdi32 user32)
else()
  add_executable(fspbench EXCLUDE_FROM_ALL bench/fspbench.cpp)
  target_compile_options(fspbench PRIVATE ${VFSPD_WARNINGS} -O2)
  target_compile_definitions(fspbench PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
  target_link_libraries(fspbench PRIVATE e2e_harness)
endif()
