# Runs the fuzzer briefly and reproducibly: a fixed seed and number of runs, starting from the
# committed corpus, with new inputs kept in a scratch folder that is emptied first.
#   cmake -DFUZZER=... -DCORPUS=... -DREGRESSIONS=... -DWORK=... -DRUNS=... -P run-fuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
execute_process(
    COMMAND "${FUZZER}" -seed=1 -runs=${RUNS} -max_len=4096 -timeout=20 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/
            "${WORK}/corpus" "${CORPUS}" "${REGRESSIONS}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The fuzzer found a fault (exit status ${result}); the input that "
                        "caused it is in ${WORK}/artifacts.")
endif()
