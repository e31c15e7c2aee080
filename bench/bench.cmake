# The benchmark client (native); echo.exe is built in the Windows tree.
add_executable(fspbench EXCLUDE_FROM_ALL bench/fspbench.cpp)
target_compile_options(fspbench PRIVATE ${VFSPD_WARNINGS} -O2)
target_compile_definitions(fspbench PRIVATE VFSPD_WIN_DIR="${VFSPD_WIN_DIR}")
target_link_libraries(fspbench PRIVATE e2e_harness)
