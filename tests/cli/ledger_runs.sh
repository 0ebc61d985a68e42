#!/bin/sh
# ledger_runs.sh CASE RUNNER CLI SETTINGS SAMPLE_GENERATOR WORKDIR
# tamsolt-cli under tamsolt-sim-run, recording into a ledger of its own; the
# rows are read back with --export jsonl (keys in alphabetical order) and
# --report --csv.
set -eu
case=$1 runner=$2 cli=$3 settings=$4 generator=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
ledger=$work/ledger.sqlite
fail() { echo "FAIL: $*" >&2; exit 1; }
# run EXPECTED_EXIT runner-options... -- cli-options...: output in $work/out, $work/err
run() {
  expected=$1
  shift
  status=0
  "$runner" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "exit $status, not $expected"; }
}
digest() { sha256sum "$1" | cut -c1-64; }
export_lines() { "$cli" --settings "$settings" --ledger "$ledger" --export jsonl; }
head -c 1060 /dev/urandom >"$work/rcdb"

case $case in
all_nine)
  # Two devices, the second refusing its begin; every child records its board.
  "$generator" --small "$work/s" >"$work/rows" 2>/dev/null
  # shellcheck disable=SC2046
  run 1 --quiet --devices=2 --fault-on=2:--begin-status=5 -- \
    "$cli" --settings "$settings" --ledger "$ledger" --all $(cat "$work/rows")
  export_lines >"$work/export"
  [ "$(wc -l <"$work/export")" -eq 2 ] || fail "not two boards"
  grep '"outcome_code":0' "$work/export" >"$work/done" || fail "no done board"
  grep '"outcome_code":7' "$work/export" >"$work/refused" || fail "no refused board"
  [ "$(grep -o '"result":"written"' "$work/done" | wc -l)" -eq 9 ] || fail "not nine written"
  for file in "$work"/s/*; do
    grep -qF "\"path\":\"$file\",\"pinned\":false,\"result\":\"written\",\"sha256\":\"$(digest "$file")\"" \
      "$work/done" || fail "$file: not written with its digest"
  done
  grep -q '"outcome":"begin refused"' "$work/refused" || fail "refused board's word"
  grep -q '"message":"[^"]' "$work/refused" || fail "refused board without its box"
  ! grep -q '"result":"written"' "$work/refused" || fail "refused board wrote an image"
  [ "$(grep -o '"result":"not reached"' "$work/refused" | wc -l)" -eq 8 ] || fail "not eight not reached"
  grep -q '"program":"tamsolt-cli"' "$work/done" || fail "program"
  for board in done refused; do
    grep -q '"slot":"1-[0-9]' "$work/$board" || fail "$board: no slot"
    grep -q '"finished_utc":"20' "$work/$board" || fail "$board: not finished"
  done
  ;;
odd_path_and_report)
  # A path with a quote, a semicolon and a byte that is not UTF-8.
  odd=$(printf "%s/it's; x\377.rdb" "$work")
  cp "$work/rcdb" "$odd"
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$odd"
  run 8 --quiet --unplug-after=1 -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$work/rcdb"
  # A row refused at the press touched no device: no board.
  run 3 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$work/missing"
  "$cli" --settings "$settings" --ledger "$ledger" --export csv >"$work/csv"
  grep -qF "\"$odd\"" "$work/csv" || grep -qF ",$odd," "$work/csv" || fail "odd path not stored exactly"
  "$cli" --settings "$settings" --ledger "$ledger" --report --csv >"$work/report"
  for line in "all,,,2,1" "outcome,done,0,1,1" "outcome,transfer gave up,8,1,0" "slot_failures,1-1.1,,2,1,1,0.500"; do
    grep -qx "$line" "$work/report" || { cat "$work/report" >&2; fail "report lacks $line"; }
  done
  "$cli" --settings "$settings" --ledger "$ledger" --report >"$work/report"
  grep -q "^1-1.1  *1  *1  *50%$" "$work/report" || { cat "$work/report" >&2; fail "no slot failure rate"; }
  "$cli" --settings "$settings" --ledger "$ledger" --report --json >"$work/report"
  grep -qF '"slots_by_failure_rate":[{"boards":2,"done":1,"failed":1,"failure_rate":0.5,"slot":"1-1.1"}]' "$work/report" ||
    { cat "$work/report" >&2; fail "no slot failure rate in JSON"; }
  ;;
log_file_lost)
  # A board written whose log file is full: done in the ledger and the report,
  # the loss flagged; the run still exits 11.
  run 11 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --log-file /dev/full --rcdb "$work/rcdb"
  export_lines >"$work/export"
  grep -q '"log_lost":true' "$work/export" || fail "the loss is not flagged"
  grep -q '"outcome":"done","outcome_code":0' "$work/export" || fail "the written board is not done"
  "$cli" --settings "$settings" --ledger "$ledger" --report --csv >"$work/report"
  grep -qx "outcome,done,0,1,1" "$work/report" || { cat "$work/report" >&2; fail "not done in the report"; }
  ;;
unwritable_ledger)
  run 11 --quiet -- "$cli" --settings "$settings" --ledger /proc/tamsolt/ledger.sqlite --rcdb "$work/rcdb"
  grep -q "RCDB" "$work/out" || fail "no transfer"
  grep -q "ledger: cannot create /proc/tamsolt" "$work/err" || fail "not reported"
  # A station: every device done, none recorded.
  run 11 --quiet --devices=2 -- "$cli" --settings "$settings" --ledger /proc/tamsolt/l.sqlite --all --rcdb "$work/rcdb"
  [ "$(grep -c '11 done, record lost' "$work/out")" -eq 2 ] || fail "table"
  # The device's outcome stays the result when it failed.
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger /proc/tamsolt/l.sqlite --rcdb "$work/rcdb"
  ;;
pin)
  cp "$settings" "$work/line.ini"
  head -c 900 /dev/urandom >"$work/fv"
  run 0 --quiet -- "$cli" --settings "$work/line.ini" --pin --rcdb "$work/rcdb" --fv "$work/fv"
  size=$(wc -c <"$settings")
  head -c "$size" "$work/line.ini" | cmp -s - "$settings" || fail "--pin changed the rest of the file"
  grep -q "^RCDB=$(digest "$work/rcdb")" "$work/line.ini" || fail "RCDB not pinned"
  grep -q "^FV=$(digest "$work/fv")" "$work/line.ini" || fail "FV not pinned"
  # The file changes: refused at the press, and the device saw no frame.
  head -c 1060 /dev/urandom >"$work/rcdb.new"
  old=$(digest "$work/rcdb" | cut -c1-12) new=$(digest "$work/rcdb.new" | cut -c1-12)
  cp "$work/rcdb.new" "$work/rcdb"
  run 3 -- "$cli" --settings "$work/line.ini" --ledger "$ledger" --rcdb "$work/rcdb" --fv "$work/fv"
  grep -q "RCDB: the file's SHA-256 $new differs from the pinned $old" "$work/err" || fail "refusal text"
  grep -q "device received 0 frames" "$work/err" || fail "frames went out"
  # Pinned again: one line changes, the rest stays.
  cp "$work/line.ini" "$work/before.ini"
  run 0 --quiet -- "$cli" --settings "$work/line.ini" --pin --rcdb "$work/rcdb"
  [ "$(grep -c '^\[SHA256\]' "$work/line.ini")" -eq 1 ] || fail "section twice"
  [ "$(diff "$work/before.ini" "$work/line.ini" | grep -c '^[<>]')" -eq 2 ] || fail "more than one line changed"
  run 0 --quiet -- "$cli" --settings "$work/line.ini" --ledger "$ledger" --rcdb "$work/rcdb" --fv "$work/fv"
  grep -q "RCDB pinned, SHA-256 $new" "$work/out" || fail "no pinned line in the log"
  export_lines | grep -q '"kind":"FV","path":"[^"]*","pinned":true,"result":"written"' || fail "pinned not recorded"
  ;;
*)
  fail "no case $case"
  ;;
esac
