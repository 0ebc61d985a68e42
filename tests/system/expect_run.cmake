# cmake -DCOMMAND="program|arg|..." -DEXPECT_EXIT=N [-DEXPECT_OUTPUT=regex] -P expect_run.cmake
# Runs the command and fails unless it exits with EXPECT_EXIT and its output
# (standard output and error together) matches EXPECT_OUTPUT.
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT "${result}" STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "exit code ${result}, expected ${EXPECT_EXIT}")
endif()
if(DEFINED EXPECT_OUTPUT AND NOT "${out}" MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "output does not match: ${EXPECT_OUTPUT}")
endif()
