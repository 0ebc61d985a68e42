#!/bin/sh
# line_db_runs.sh CASE RUNNER CLI SETTINGS SAMPLE_GENERATOR WORKDIR SERVER_STATE
# tamsolt-cli under tamsolt-sim-run forwarding its ledger to the test
# PostgreSQL server (tests/linedb/pg_server.sh); each case has a database of
# its own, and what arrived is compared with the ledger's own export.
set -eu
case=$1 runner=$2 cli=$3 settings=$4 generator=$5 work=$6 state=$7
rm -rf "$work"
mkdir -p "$work"
ledger=$work/ledger.sqlite
fail() { echo "FAIL: $*" >&2; exit 1; }
run() {
  expected=$1
  shift
  status=0
  "$runner" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "exit $status, not $expected"; }
}
server=$(cat "$state")
export PGOPTIONS="-c client_min_messages=warning"
db=linedb_cli_$case
psql -X -q -At -d "host=$server user=postgres dbname=postgres" -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db"
url="host=$server user=postgres dbname=$db"
sql() { psql -X -q -At -d "$url" -c "$1"; }
ledger_uuids() { "$cli" --settings "$settings" --ledger "$ledger" --export jsonl | grep -o '"uuid":"[^"]*"' | cut -d'"' -f4 | sort; }
head -c 1060 /dev/urandom >"$work/rcdb"

case $case in
batch)
  # Three single runs (one of nine rows) and an --all of two: every board arrives, each once.
  "$generator" "$work/s" >"$work/rows" 2>/dev/null
  # shellcheck disable=SC2046
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" $(cat "$work/rows")
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --rcdb "$work/rcdb"
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --rcdb "$work/rcdb"
  run 0 --quiet --devices=2 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --all --rcdb "$work/rcdb"
  ! grep -q "line database" "$work/err" || { cat "$work/err" >&2; fail "--all: a forward failed"; }
  ledger_uuids >"$work/sent"
  sql "SELECT uuid FROM boards ORDER BY uuid" >"$work/arrived"
  [ "$(wc -l <"$work/sent")" -eq 5 ] || fail "not five boards in the ledger"
  cmp -s "$work/sent" "$work/arrived" || { diff "$work/sent" "$work/arrived" >&2; fail "uuids differ"; }
  [ "$(sql "SELECT count(*) FROM boards WHERE outcome_code = 7")" -eq 1 ] || fail "refused board"
  for file in "$work"/s/* "$work/rcdb"; do
    digest=$(sha256sum "$file" | cut -c1-64)
    [ "$(sql "SELECT count(*) FROM images WHERE sha256 = '$digest' AND result = 'written'")" -ge 1 ] ||
      fail "$file: not in the line database with its digest"
  done
  [ "$(sql "SELECT count(*) FROM images i JOIN boards b ON b.id = i.board_id")" -eq 13 ] || fail "not 9+4 images"
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --report |
    grep -qx "waiting for the line database: 0" ||
    fail "report: backlog not 0"
  ;;
outage_sync)
  # No server at the url: boards written and recorded, the outage told once a run.
  down="host=$work/nowhere user=postgres dbname=$db"
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$down" --rcdb "$work/rcdb"
  [ "$(grep -c "line database" "$work/err")" -eq 1 ] || { cat "$work/err" >&2; fail "outage not told once"; }
  # The refused child ends long before the other: two forwards, the outage told once.
  run 1 --quiet --devices=2 --fault-on=2:--begin-status=5 -- \
    "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$down" --all --rcdb "$work/rcdb"
  [ "$(grep -c "line database" "$work/err")" -eq 1 ] || { cat "$work/err" >&2; fail "--all: outage not told once"; }
  "$cli" --settings "$settings" --ledger "$ledger" --report --csv | grep -qx "backlog,,,3," || fail "csv backlog"
  "$cli" --settings "$settings" --ledger "$ledger" --report --json | grep -q '"backlog":3' || fail "json backlog"
  status=0
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-sync --ledger-url "$down" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 2 ] || fail "sync in an outage: exit $status"
  grep -qx "forwarded 0 board(s) to the line database; 3 left" "$work/out" || fail "outage sync numbers"
  # Back: the backlog goes once; a second sync finds nothing.
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-sync --ledger-url "$url" >"$work/out" || fail "sync failed"
  grep -qx "forwarded 3 board(s) to the line database; 0 left" "$work/out" || { cat "$work/out" >&2; fail "sync numbers"; }
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-sync --ledger-url "$url" >"$work/out" || fail "second sync"
  grep -qx "forwarded 0 board(s) to the line database; 0 left" "$work/out" || fail "second sync numbers"
  ledger_uuids >"$work/sent"
  sql "SELECT uuid FROM boards ORDER BY uuid" >"$work/arrived"
  cmp -s "$work/sent" "$work/arrived" || { diff "$work/sent" "$work/arrived" >&2; fail "uuids differ"; }
  ;;
wrong_database)
  # Refused: said once with libpq's message, the records stay queued, the device's code stays.
  bad="host=$server user=postgres dbname=no_such_db"
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$bad" --rcdb "$work/rcdb"
  [ "$(grep -c 'database "no_such_db" does not exist' "$work/err")" -eq 1 ] || { cat "$work/err" >&2; fail "refusal not told once"; }
  run 0 --quiet --devices=2 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$bad" --all --rcdb "$work/rcdb"
  [ "$(grep -c 'does not exist' "$work/err")" -eq 1 ] || { cat "$work/err" >&2; fail "--all: refusal not told once"; }
  # Without a url the report does not call them waiting: nothing would send them.
  "$cli" --settings "$settings" --ledger "$ledger" --report |
    grep -qxF "not forwarded (no line database: [ledger] url is empty): 3" || fail "records not queued"
  # No password ever shown: one in the url is masked.
  secret="host=$server user=postgres password=hunter2secret dbname=no_such_db"
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$secret" --rcdb "$work/rcdb"
  ! grep -q hunter2secret "$work/out" "$work/err" || fail "password shown"
  grep -q "does not exist" "$work/err" || fail "not told"
  ;;
*)
  fail "no case $case"
  ;;
esac
