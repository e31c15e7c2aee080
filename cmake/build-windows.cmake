# Builds TARGETS in the Windows tree WIN_DIR (cmake -P), for the native
# tree's programs that start them under Wine.
if(NOT EXISTS "${WIN_DIR}/CMakeCache.txt")
  message(FATAL_ERROR "No Windows build tree at ${WIN_DIR}: the end-to-end tests and the benchmark "
                      "start its programs under Wine. Build both trees with scripts/build.sh, or set "
                      "VFSPD_WIN_DIR to a configured Windows tree.")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WIN_DIR} --target ${TARGETS} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Building ${TARGETS} in ${WIN_DIR} failed")
endif()
