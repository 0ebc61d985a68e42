#!/bin/sh
# line_db_runs.sh CASE RUNNER CLI SETTINGS SAMPLE_GENERATOR WORKDIR SERVER_STATE [STALLING_SERVER]
# tamsolt-cli under tamsolt-sim-run forwarding its ledger to the test
# PostgreSQL server (tests/linedb/pg_server.sh); each case has a database of
# its own, and what arrived is compared with the ledger's own export. The
# stalled_* cases forward to a fake server that never answers
# (tests/linedb/stalling_server.h): without a bound on every wait they hang
# until ctest's time-out.
set -eu
case=$1 runner=$2 cli=$3 settings=$4 generator=$5 work=$6 state=$7 stalling_server=${8:-}
source=$(cd "$(dirname "$0")/../.." && pwd)
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

# stalling MODE: the fake server in the background; $stall_url leads to it
# by name, and its lines ("session", "statement", "cancel", "closed") come on fd 3.
stalling() {
  mkfifo "$work/stall.fifo"
  "$stalling_server" "$1" >"$work/stall.fifo" &
  stall_pid=$!
  trap 'kill $stall_pid 2>/dev/null || true' EXIT
  exec 3<"$work/stall.fifo"
  read -r word stall_port <&3
  [ "$word" = port ] || fail "stalling server: $word"
  stall_url="host=localhost port=$stall_port user=postgres dbname=$db"
}
seen() {
  while read -r line <&3; do [ "$line" = "$1" ] && return 0; done
  fail "the stalling server never saw a $1"
}
# Every line of out is an event, and the last one is the outcome with this exit code.
events_only() {
  ! grep -v '^{"schema":1,"kind":"[a-z-]*","time":"[0-9T:.Z-]*",.*"data":{.*}}$' "$work/out" ||
    fail "not events only"
  tail -n 1 "$work/out" | grep -q "\"kind\":\"outcome\".*\"exit_code\":$1," || fail "no outcome $1 last"
}
backlog() { "$cli" --settings "$settings" --ledger "$ledger" --report --csv | grep "^backlog," | cut -d, -f4; }

case $case in
stalled_run)
  # A board done, then a database that stops answering after its start-up, or never
  # speaks: the run still ends (at most the hold time), with its own code, the board queued.
  stalling after-startup
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$stall_url" --rcdb "$work/rcdb"
  grep -q "no reply within the time this forward was given" "$work/err" || { cat "$work/err" >&2; fail "not told"; }
  seen cancel
  kill $stall_pid
  exec 3<&-
  rm "$work/stall.fifo"
  stalling silent
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$stall_url" --rcdb "$work/rcdb"
  grep -q "no connection within 2 s" "$work/err" || { cat "$work/err" >&2; fail "silent server not told"; }
  [ "$(backlog)" = 2 ] || fail "boards not queued"
  ;;
live_rows)
  # A --watch station keeps its live rows beside its boards: the slot as its
  # last slot-state said it, under the name of [slots], and its end, all
  # under the station's own name.
  cp "$settings" "$work/station.ini"
  printf '[slots]\r\n1-1.1=A<1>\r\n[station]\r\nname=line3-a\r\n' >>"$work/station.ini"
  run 0 --quiet -- "$cli" --settings "$work/station.ini" --ledger "$ledger" --ledger-url "$url" \
    --watch --max-boards 1 --json --rcdb "$work/rcdb"
  [ "$(sql "SELECT station, stopped, heartbeat_utc > now() - interval '1 min' FROM line_stations")" = "line3-a|t|t" ] ||
    fail "station row: $(sql 'SELECT * FROM line_stations')"
  [ "$(sql "SELECT station FROM boards")" = line3-a ] || fail "the board's station: $(sql 'SELECT station FROM boards')"
  last=$(grep '"kind":"slot-state"' "$work/out" | tail -n 1 | grep -o '"text":"[^"]*"' | cut -d'"' -f4)
  [ "$(sql "SELECT slot, name, state, taken, text FROM line_slots")" = "1-1.1|A<1>|done|t|$last" ] ||
    fail "slot row: $(sql 'SELECT * FROM line_slots'), the last slot-state said: $last"
  ! grep -q "live rows" "$work/err" || { cat "$work/err" >&2; fail "a failure told"; }
  ;;
live_rows_all_and_single)
  # A single run and --all keep the same live rows: a single run's board failed
  # with its box's words, then --all's two boards (the single run's slot gone
  # with its session), and the station stopped after each.
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" \
    --json --rcdb "$work/rcdb"
  reason=$(tail -n 1 "$work/out" | grep -o '"reason":"[^"]*"' | cut -d'"' -f4)
  [ -n "$reason" ] || fail "no reason in the outcome"
  [ "$(sql "SELECT state, reason, reason_kind, taken, text FROM line_slots")" = "failed|$reason|box|t|failed: $reason" ] ||
    fail "single run's slot: $(sql 'SELECT * FROM line_slots'), its outcome said: $reason"
  [ "$(sql "SELECT stopped FROM line_stations")" = t ] || fail "single run's station: $(sql 'SELECT * FROM line_stations')"
  run 1 --quiet --devices=2 --fault-on=2:--begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" \
    --ledger-url "$url" --all --json --rcdb "$work/rcdb"
  [ "$(sql "SELECT slot, state, reason_kind, text FROM line_slots ORDER BY slot" | tr '\n' ' ')" = \
    "1-1.1|done||done 1-1.2|failed|box|failed: $reason " ] || fail "--all's slots: $(sql 'SELECT * FROM line_slots')"
  [ "$(sql "SELECT count(*), bool_and(stopped) FROM line_stations")" = "1|t" ] ||
    fail "--all's station: $(sql 'SELECT * FROM line_stations')"
  ;;
live_single_interrupted)
  # A single run's slot says the item and percentage it writes; stopped in the
  # middle, it says where it was cut, and the station stopped.
  head -c 200000 /dev/urandom >"$work/rcdb"
  mkfifo "$work/events"
  "$runner" --quiet -- sh -c 'echo $$ > "$0"; exec "$@"' "$work/pid" "$cli" --settings "$settings" \
    --ledger "$ledger" --ledger-url "$url" --json --rcdb "$work/rcdb" >"$work/events" 2>"$work/err" &
  runner_pid=$!
  grep -m 1 '"kind":"progress"' "$work/events" >/dev/null || fail "no progress"
  cat "$work/events" >/dev/null &
  # The publisher writes within 0.1 s of a change; the run is seconds from its end.
  for _ in $(seq 100); do
    [ "$(sql "SELECT state, item, percent > 0 FROM line_slots")" = "writing|RCDB|t" ] && break
    sleep 0.05
  done
  [ "$(sql "SELECT state, item, percent > 0 FROM line_slots")" = "writing|RCDB|t" ] ||
    fail "the writing slot: $(sql 'SELECT * FROM line_slots')"
  kill -TERM "$(cat "$work/pid")"
  status=0
  wait $runner_pid || status=$?
  [ "$status" -eq 10 ] || { cat "$work/err" >&2; fail "exit $status, not 10"; }
  [ "$(sql "SELECT state, reason_kind, text LIKE 'interrupted: Interrupted by SIGTERM at RCDB block %' FROM line_slots")" = \
    "interrupted|interrupted|t" ] || fail "the interrupted slot: $(sql 'SELECT * FROM line_slots')"
  [ "$(sql "SELECT stopped FROM line_stations")" = t ] || fail "the station: $(sql 'SELECT * FROM line_stations')"
  ;;
stalled_watch)
  # The station's lot is done: it stops, cutting the forward that waits for an answer.
  stalling after-startup
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$stall_url" \
    --watch --max-boards 1 --rcdb "$work/rcdb"
  grep -q "stopped; written 1, failed 0" "$work/out" || { cat "$work/out" >&2; fail "not stopped"; }
  [ "$(backlog)" = 1 ] || fail "board not queued"
  # The live rows could not be written either, and that was told once.
  [ "$(grep -c "live rows cannot be written" "$work/err")" = 1 ] || { cat "$work/err" >&2; fail "live rows not told once"; }
  ;;
stalled_sync)
  # SIGTERM while --ledger-sync waits for an answer: it ends at once (exit 10), the board queued.
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url= --rcdb "$work/rcdb"
  stalling after-startup
  for form in text json; do
    json=""
    [ $form = text ] || json=--json
    "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$stall_url" --ledger-sync $json \
      >"$work/out" 2>"$work/err" &
    sync_pid=$!
    seen statement
    kill -TERM $sync_pid
    status=0
    wait $sync_pid || status=$?
    [ "$status" -eq 10 ] || { cat "$work/out" "$work/err" >&2; fail "$form: exit $status, not 10"; }
    grep -q "stopped by SIGTERM" "$work/err" || fail "$form: stop not told"
    if [ $form = text ]; then
      grep -qx "forwarded 0 board(s) to the line database; 1 left" "$work/out" || fail "numbers"
    else
      events_only 10
      grep -q '"kind":"ledger-sync".*"data":{"forwarded":0,"left":1,"signal":"SIGTERM"}' "$work/out" ||
        fail "no ledger-sync event"
    fi
  done
  [ "$(backlog)" = 1 ] || fail "board not queued"
  ;;
events_only)
  # --ledger-sync and --pin with --json: events and nothing else, ending with the outcome.
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url= --rcdb "$work/rcdb"
  status=0
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "host=$server user=postgres dbname=no_such_db" \
    --ledger-sync --json >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 2 ] || fail "refused sync: exit $status"
  events_only 2
  grep -q '"kind":"ledger-sync".*"data":{"forwarded":0,"left":1,"error":"line database .*no_such_db' "$work/out" ||
    fail "refusal not in the event"
  # As the stations' insert-only role, on tables still at version 1: forwarded all the same, said once.
  psql -X -q -d "$url" -c "DO \$\$ BEGIN CREATE ROLE tamsolt_station LOGIN;
    EXCEPTION WHEN duplicate_object OR unique_violation THEN END \$\$" \
    -f "$source/linedb/schema.sql" -f "$source/linedb/station_role.sql"
  "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url user=tamsolt_station" --ledger-sync --json \
    >"$work/out" 2>"$work/err" || fail "sync failed"
  events_only 0
  grep -q '"kind":"ledger-sync".*"data":{"forwarded":1,"left":0}' "$work/out" || fail "sync event"
  [ "$(grep -c "user=tamsolt_station): the tables are at version 1.*schema_v2.sql" "$work/err")" -eq 1 ] ||
    { cat "$work/err" >&2; fail "version 1 not told once"; }
  cp "$settings" "$work/pins.ini"
  "$cli" --settings "$work/pins.ini" --pin --json --rcdb "$work/rcdb" >"$work/out" || fail "pin failed"
  events_only 0
  digest=$(sha256sum "$work/rcdb" | cut -c1-64)
  grep -q "\"kind\":\"pinned\".*\"item\":\"RCDB\",\"file\":\"$work/rcdb\",\"sha256\":\"$digest\"" "$work/out" ||
    fail "no pinned event"
  status=0
  "$cli" --settings "$work/pins.ini" --pin --json --rcdb "$work/missing" >"$work/out" 2>/dev/null || status=$?
  [ "$status" -eq 3 ] || fail "pin of a missing file: exit $status"
  events_only 3
  grep -q '"reason":"RCDB: cannot read' "$work/out" || fail "no reason"
  ;;
batch)
  # Three single runs (one of nine rows, one whose log file is full) and an --all of two:
  # every board arrives, each once, the lost log as its flag.
  "$generator" "$work/s" >"$work/rows" 2>/dev/null
  # The slow kinds cut short (the emulator takes them as they are): nine rows in a fifth of the time.
  for file in boot.bin host.bin records.rdb voice.fv fonts.pack language.lang pictures.pic; do
    head -c 1060 "$work/s/$file" >"$work/cut" && mv "$work/cut" "$work/s/$file"
  done
  # shellcheck disable=SC2046
  run 0 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" $(cat "$work/rows")
  run 11 --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --log-file /dev/full \
    --rcdb "$work/rcdb"
  run 7 --quiet --begin-status=5 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --rcdb "$work/rcdb"
  run 0 --quiet --devices=2 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --all --rcdb "$work/rcdb"
  ! grep -q "line database" "$work/err" || { cat "$work/err" >&2; fail "--all: a forward failed"; }
  ledger_uuids >"$work/sent"
  sql "SELECT uuid FROM boards ORDER BY uuid" >"$work/arrived"
  [ "$(wc -l <"$work/sent")" -eq 5 ] || fail "not five boards in the ledger"
  cmp -s "$work/sent" "$work/arrived" || { diff "$work/sent" "$work/arrived" >&2; fail "uuids differ"; }
  [ "$(sql "SELECT count(*) FROM boards WHERE outcome_code = 7")" -eq 1 ] || fail "refused board"
  [ "$(sql "SELECT outcome_code, log_lost FROM boards WHERE log_lost OR outcome_code = 11")" = "0|t" ] ||
    fail "the lost log is not the flag of a board done"
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
  # Once by the forward, once by the live rows (the line page does not see the station).
  told_once() {
    [ "$(grep -c '^tamsolt-cli: line database (.*database "no_such_db" does not exist' "$work/err")" -eq 1 ] &&
      [ "$(grep -c "^tamsolt-cli: the line page's live rows cannot be written: .*does not exist" "$work/err")" -eq 1 ] ||
      { cat "$work/err" >&2; fail "$1: refusal not told once"; }
  }
  told_once "a single run"
  run 0 --quiet --devices=2 -- "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$bad" --all --rcdb "$work/rcdb"
  told_once "--all"
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
