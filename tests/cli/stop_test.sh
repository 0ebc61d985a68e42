#!/bin/sh
# stop_test.sh RUNNER CLI SETTINGS RCDB WORKDIR SIGNAL DEVICES TIMES [cli options...]
# Starts a slow batch, sends SIGNAL to tamsolt-cli once a transfer has started
# (TIMES 2: again once it has said it takes no new board, as --watch wants),
# and checks that it exits 10 saying where it stood, with --all the table
# naming the cut boards, every board's ledger row finished with 10, and that
# no tamsolt-cli is left running. --watch
# stopped once lets the board finish: exit 0, the board written. With --json
# after --watch: the stopping, interrupting and interrupted slot events.
set -u
runner=$1 cli=$2 settings=$3 rcdb=$4 work=$5 signal=$6 devices=$7 times=$8
shift 8
rm -rf "$work"
mkdir -p "$work"
"$runner" --quiet --devices "$devices" --latency-ms=10 -- sh -c 'echo $$ > "$0"; exec "$@"' \
  "$work/pid" "$cli" --settings "$settings" --log-file "$work/log" --ledger "$work/ledger.sqlite" \
  --rcdb "$rcdb" "$@" \
  > "$work/out" 2>&1 &
runner_pid=$!
for _ in $(seq 300); do
  grep -q '开始下载RCDB' "$work/out" 2>/dev/null && break
  sleep 0.1
done
kill -"$signal" "$(cat "$work/pid")"
if [ "$times" -eq 2 ]; then
  for _ in $(seq 300); do
    grep -q 'no new board' "$work/out" && break
    sleep 0.1
  done
  kill -"$signal" "$(cat "$work/pid")"
fi
wait $runner_pid
code=$?
cat "$work/out"
fail() { echo "FAILED: $*" >&2; exit 1; }
if [ "$times" -eq 1 ] && [ "${1:-}" = --watch ]; then
  [ "$code" -eq 0 ] || fail "exit $code, expected 0"
  grep -q 'stopped; written 1, failed 0' "$work/out" || fail "the board was not let finish"
  exit 0
fi
[ "$code" -eq 10 ] || fail "exit $code, expected 10"
# With events, each stop is its own kind and the cut board's slot says so.
if [ "${2:-}" = --json ]; then
  for event in '"kind":"stopping"' '"kind":"interrupting"' '"state":"interrupted"'; do
    grep -q "$event" "$work/out" || fail "no $event event"
  done
fi
grep -q "Interrupted by SIG$signal at RCDB block [0-9]* of [0-9]*; the device was released" \
  "$work/out" || fail "no line saying where the transfer stood"
grep -q "Interrupted by SIG$signal" "$work/log" || fail "the log file lacks the line"
if [ "$devices" -gt 1 ]; then
  [ "$(grep -c '^001:00[0-9] *10 interrupted' "$work/out")" -eq "$devices" ] ||
    fail "the table does not name every board as interrupted"
fi
! pgrep -f -- "--log-file $work/log" > /dev/null || fail "a tamsolt-cli is still running"
"$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --export jsonl > "$work/boards"
[ "$(grep -c '"outcome":"interrupted","outcome_code":10' "$work/boards")" -eq "$devices" ] ||
  fail "the ledger does not hold every board as interrupted: $(cat "$work/boards")"
