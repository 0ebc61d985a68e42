# Included from tests/cli/CMakeLists.txt: its cli_run and variables apply here.

# A stop while the node waits for its permission; a log file appended to by
# each run and each child; a quote in a CSV field doubled.
foreach(case stop_while_waiting_for_permission log_file_appends csv_doubles_quotes)
  add_test(NAME cli.promise.${case}
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/promise_runs.sh ${case} ${runner} ${cli} ${settings}
      ${rcdb} ${CMAKE_CURRENT_BINARY_DIR}/promise-${case})
  set_tests_properties(cli.promise.${case} PROPERTIES
    TIMEOUT 60 ENVIRONMENT_MODIFICATION "${asan_under_preload}")
endforeach()

# SIGHUP (the terminal closed) stops a run as SIGINT and SIGTERM do.
add_test(NAME cli.stopped_by_HUP_1_1
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/stop_test.sh ${runner} ${cli} ${settings} ${big_rcdb}
    ${CMAKE_CURRENT_BINARY_DIR}/stopped-HUP_1_1 HUP 1 1)
set_tests_properties(cli.stopped_by_HUP_1_1 PROPERTIES
  TIMEOUT 60 ENVIRONMENT_MODIFICATION "${asan_under_preload}")

# Two items: each has its closing 100 % and its item-done; a done run's
# outcome has no reason (json_events_check).
add_test(NAME cli.json_events_two_items
  COMMAND sh -c "\"$1\" --quiet -- \"$2\" --settings \"$3\" --json --rcdb \"$4\" --fv \"$4\" > \"$5\"; test $? -eq 0 && \"$0\" \"$5\" single 0"
    $<TARGET_FILE:json_events_check> ${runner} ${cli} ${settings} ${rcdb}
    ${CMAKE_CURRENT_BINARY_DIR}/events-two-items.jsonl)
set_tests_properties(cli.json_events_two_items PROPERTIES
  TIMEOUT 30 ENVIRONMENT_MODIFICATION "${asan_under_preload}")

# --pin with no row pins nothing and says so (a copy: a fault must not change res/).
set(unpinned_settings ${CMAKE_CURRENT_BINARY_DIR}/unpinned-setting.ini)
file(WRITE ${unpinned_settings} "${pinned_settings}")
cli_run(pin_without_rows_refused 2 "^tamsolt-cli: no row to pin\n$" -- --settings ${unpinned_settings} --pin)
# --watch: a board written whose log lines were lost counts as written.
cli_run(watch_record_lost_is_written 11 "stopped; written 1, failed 0"
  -- --watch --max-boards 1 --log-file /dev/full --rcdb ${rcdb})
