#!/bin/sh
# promise_runs.sh CASE RUNNER CLI SETTINGS RCDB WORKDIR
# Runs of tamsolt-cli under tamsolt-sim-run whose promise shows only in a
# file or at an event: a stop during the permission wait, a log file that is
# appended to, a quote in a CSV field.
set -u
case=$1 runner=$2 cli=$3 settings=$4 rcdb=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
fail() { cat "$work/out" >&2; echo "FAILED: $*" >&2; exit 1; }
: >"$work/out"

case $case in
stop_while_waiting_for_permission)
  # The node stays unwritable; --wait stretches the grace past any load.
  "$runner" --quiet --unwritable-for-ms=60000 -- sh -c 'echo $$ > "$0"; exec "$@"' "$work/pid" \
    "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --wait 30 --rcdb "$rcdb" \
    >"$work/out" 2>&1 &
  runner_pid=$!
  for _ in $(seq 300); do
    grep -q 'Waiting for permission' "$work/out" && break
    sleep 0.1
  done
  kill -INT "$(cat "$work/pid")"
  wait $runner_pid
  code=$?
  [ "$code" -eq 10 ] || fail "exit $code, expected 10"
  grep -q 'Interrupted by SIGINT' "$work/out" || fail "no line saying it was stopped"
  ! grep -q '开始下载' "$work/out" || fail "an image was written"
  ;;
log_file_appends)
  # An earlier run's line stays, and each child of --all adds its own.
  echo "an earlier run" >"$work/log"
  "$runner" --quiet --devices=2 -- "$cli" --settings "$settings" --no-ledger --all \
    --log-file "$work/log" --rcdb "$rcdb" >"$work/out" 2>&1 || fail "exit $?, expected 0"
  [ "$(head -n 1 "$work/log")" = "an earlier run" ] || fail "the earlier line is gone"
  for device in 001:002 001:003; do
    grep -q "$device .*RCDB下载完成" "$work/log" || fail "$device's lines are gone"
  done
  ;;
csv_doubles_quotes)
  odd="$work/say \"hi\".rdb"
  cp "$rcdb" "$odd"
  "$runner" --quiet -- "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --rcdb "$odd" \
    >"$work/out" 2>&1 || fail "exit $?, expected 0"
  "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --export csv >"$work/csv"
  grep -qF ",\"$work/say \"\"hi\"\".rdb\"," "$work/csv" || fail "quote not doubled: $(cat "$work/csv")"
  ;;
*)
  fail "no case $case"
  ;;
esac
