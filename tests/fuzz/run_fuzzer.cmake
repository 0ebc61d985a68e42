# One deterministic fuzz run for ctest: the committed corpus, then RUNS inputs
# mutated from seed 1. New inputs and any crash file go to WORK, never into
# the source tree. Fails when the target finds a crash, a leak or a hang.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/new)
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${WORK}/ ${WORK}/new ${CORPUS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}")
endif()
