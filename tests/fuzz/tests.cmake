# libFuzzer targets over the platform-free core (clang only). The test run
# gives each a few seconds from its seed corpus; scripts/fuzz.sh runs them
# for longer.
set(VFSPD_FUZZ_SECONDS 3 CACHE STRING "Seconds each fuzz target runs in the test command")
set(VFSPD_FUZZ_TARGETS fuzz_decode fuzz_reply fuzz_paths fuzz_logline fuzz_listing)
foreach(target ${VFSPD_FUZZ_TARGETS})
  add_executable(${target} tests/fuzz/${target}.cpp ${VFSPD_CORE_SOURCES})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../..)
  target_compile_options(${target} PRIVATE ${VFSPD_WARNINGS} -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  # Work on a copy, so the committed seeds stay as they are.
  add_test(NAME ${target}
    COMMAND sh -c "d=fuzzwork/$4; rm -rf $d; mkdir -p $d; cp $1/* $d/ 2>/dev/null; exec $2 -max_total_time=$3 -print_final_stats=1 $d"
            _ ${CMAKE_CURRENT_LIST_DIR}/corpus/${target} $<TARGET_FILE:${target}> ${VFSPD_FUZZ_SECONDS} ${target})
  # scripts/fuzz.sh finds the targets by this label.
  set_tests_properties(${target} PROPERTIES TIMEOUT 120 LABELS fuzz)
endforeach()
