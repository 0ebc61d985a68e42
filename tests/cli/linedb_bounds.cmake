# Included from tests/cli/CMakeLists.txt: a line database that never answers
# (tests/linedb/stalling_server.h) holds no run, no station's stop and no
# --ledger-sync beyond its bound; --ledger-sync and --pin speak events only.
# Needs nothing of the including file: it may be included from anywhere.
set(linedb_bounds_env "ASAN_OPTIONS=string_append::verify_asan_link_order=0"
  "XDG_STATE_HOME=set:${PROJECT_BINARY_DIR}/tests/cli/state")
foreach(case stalled_run stalled_watch stalled_sync events_only)
  add_test(NAME cli.linedb.${case}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/line_db_runs.sh ${case} $<TARGET_FILE:tamsolt_sim_run>
      $<TARGET_FILE:tamsolt_cli_program> ${PROJECT_SOURCE_DIR}/res/setting.ini
      $<TARGET_FILE:tamsolt_sample_images> ${PROJECT_BINARY_DIR}/tests/cli/linedb-${case}
      ${PROJECT_BINARY_DIR}/tests/linedb/linedb-server $<TARGET_FILE:linedb_stalling_server>)
  set_tests_properties(cli.linedb.${case} PROPERTIES
    FIXTURES_REQUIRED linedb_server TIMEOUT 120 ENVIRONMENT_MODIFICATION "${linedb_bounds_env}")
endforeach()
