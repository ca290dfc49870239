# Runs a fuzzer briefly and reproducibly: a fixed seed and number of runs, starting from the
# committed corpus and regressions, with new inputs kept in a scratch folder emptied first.
#   cmake -DFUZZER=... -DCORPUS=... -DREGRESSIONS=... -DWORK=... -DRUNS=... -DMAX_LEN=...
#         -P run-fuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
set(inputs "${WORK}/corpus" "${CORPUS}")
# A target that has never found a fault has no regressions folder.
if(EXISTS "${REGRESSIONS}")
    list(APPEND inputs "${REGRESSIONS}")
endif()
execute_process(
    COMMAND "${FUZZER}" -seed=1 -runs=${RUNS} -max_len=${MAX_LEN} -timeout=20 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${inputs}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The fuzzer found a fault (exit status ${result}); the input that "
                        "caused it is in ${WORK}/artifacts.")
endif()
