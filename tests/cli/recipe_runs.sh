#!/bin/sh
# recipe_runs.sh CASE RUNNER CLI SETTINGS WORKDIR SERVER_STATE
# Recipes through the real program: published into the test PostgreSQL
# server (tests/linedb/pg_server.sh), a database per case, and written by
# tamsolt-cli under tamsolt-sim-run, whose --out and --report show what the
# emulated board received. The --watch case acts on the station's own events,
# never on a clock.
set -eu
case=$1 runner=$2 cli=$3 settings=$4 work=$5 state=$6
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL ($case): $*" >&2; exit 1; }
server=$(cat "$state")
export PGOPTIONS="-c client_min_messages=warning"
db=recipes_cli_$case
psql -X -q -At -d "host=$server user=postgres dbname=postgres" -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db"
url="host=$server user=postgres dbname=$db"
down="host=$work/nowhere user=postgres dbname=$db"
ledger=$work/ledger.sqlite
cache=$work/cache
# cli EXPECTED ARGS...: the program alone (no device), output in out and err.
cli() {
  expected=$1
  shift
  status=0
  "$cli" --settings "$settings" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "exit $status, not $expected: $*"; }
}
# run EXPECTED RUNNER-OPTIONS... -- CLI-OPTIONS...: one board on the emulated device.
run() {
  expected=$1
  shift
  runner_options=""
  while [ "$1" != "--" ]; do runner_options="$runner_options $1"; shift; done
  shift
  rm -rf "$work/dev" "$work/report"
  status=0
  # shellcheck disable=SC2086
  "$runner" --quiet --out="$work/dev" --report="$work/report" $runner_options -- \
    "$cli" --settings "$settings" --ledger "$ledger" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || { cat "$work/out" "$work/err" >&2; fail "exit $status, not $expected: $*"; }
}
# watch RUNNER-OPTIONS... -- CLI-OPTIONS...: a --watch station whose events
# go through act() line by line (which may plug a board through the control
# FIFO) and into events; its exit code in code.
watch() {
  runner_options=""
  while [ "$1" != "--" ]; do runner_options="$runner_options $1"; shift; done
  shift
  rm -f "$work/control"
  mkfifo "$work/control"
  # shellcheck disable=SC2086
  { status=0
    "$runner" --quiet --control="$work/control" $runner_options -- \
      "$cli" --settings "$settings" --ledger "$ledger" --watch --json "$@" 2>"$work/err" || status=$?
    echo $status >"$work/code"
  } | tee "$work/events" | while IFS= read -r line; do act "$line"; done
  code=$(cat "$work/code")
}
# The images the board received, "NAME BYTES" a line.
received() { sed -n 's/^image \(.*\)\.bin \(.*\)$/\1 \2/p' "$work/dev/summary.txt"; }
# "RECIPE VERSION" of every board in the ledger, oldest first.
recorded() {
  "$cli" --settings "$settings" --ledger "$ledger" --export jsonl |
    sed 's/.*"recipe":"\([^"]*\)","recipe_version":\([0-9a-z]*\).*/\1 \2/'
}
digest() { sha256sum "$1" | cut -c1-64; }
# The digests of the files read to be sent to the last board (the board gets them scrambled).
sent() { "$cli" --settings "$settings" --ledger "$ledger" --export jsonl | tail -n 1 | grep -o '"sha256":"[0-9a-f]*"' | cut -d'"' -f4; }
# sent_files FILE...: the last board was sent exactly these files.
sent_files() { [ "$(sent)" = "$(for f in "$@"; do digest "$f"; done)" ] || fail "sent $(sent), not $*"; }
head -c 1060 /dev/urandom >"$work/rcdb1"
head -c 1590 /dev/urandom >"$work/rcdb2"
head -c 5000 /dev/urandom >"$work/font"

case $case in
publish_run_rollback)
  # A line database without recipes yet: the owner's listing brings the tables up.
  cli 0 --ledger-url "$url" --recipes
  grep -qx "no recipes" "$work/out" || fail "--recipes on a new database: $(cat "$work/out" "$work/err")"
  cli 0 --ledger-url "$url" --publish line3 --note "first build" --rcdb "$work/rcdb1"
  grep -qx "line3: version 1 published and active (1 image(s) uploaded)" "$work/out" || fail "publish text"
  # Refused as a run's press refuses it, before anything is stored: a host
  # image without the expected tag, a file its pin in the settings file does not match.
  head -c 2000 /dev/zero >"$work/host"
  printf '\001' | dd of="$work/host" bs=1 seek=111 conv=notrunc 2>/dev/null
  cli 3 --ledger-url "$url" --publish line3 --host "$work/host"
  grep -qF "\"$work/host\": " "$work/err" || fail "untagged host: $(cat "$work/err")"
  { cat "$settings"; printf '[SHA256]\r\nRCDB=%s\r\n' "$(digest "$work/rcdb2")"; } >"$work/pinned.ini"
  cli 3 --settings "$work/pinned.ini" --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  grep -q "differs from the pinned" "$work/err" || fail "pin: $(cat "$work/err")"
  # From a settings file: its enabled rows, as a run takes them.
  sed -e "s|^\[setup\]\r\$|[setup]\r\nRCDB=1\r\nFONT=1\r|" \
      -e "s|^\[PATH\]\r\$|[PATH]\r\nRCDB=$work/rcdb2\r\nFONT=$work/font\r|" "$settings" >"$work/line.ini"
  "$cli" --settings "$work/line.ini" --ledger-url "$url" --publish line3 --json >"$work/out" || fail "publish"
  grep -q '"kind":"outcome".*"exit_code":0,.*"recipe":"line3","recipe_version":2,"images_uploaded":2' \
    "$work/out" || fail "publish outcome: $(cat "$work/out")"
  # A run on the recipe writes exactly version 2's images and says so.
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache" --json
  [ "$(received)" = "$(printf 'font 5000\nrcdb 1590')" ] || fail "received: $(received)"
  sent_files "$work/rcdb2" "$work/font"
  grep -q '"kind":"run-start".*"recipe":"line3","recipe_version":2' "$work/out" || fail "run-start"
  grep -q "\"kind\":\"recipe\".*\"data\":{\"name\":\"line3\",\"version\":2,\"previous\":null,\"away\":false,\"fetched\":2,\"rows\":.*{\"item\":\"RCDB\",\"enabled\":true,\"file\":\"rcdb2\",\"sha256\":\"$(digest "$work/rcdb2")\"}" \
    "$work/out" || fail "no recipe event"
  # A rollback is one command; the next run writes version 1.
  cli 0 --ledger-url "$url" --activate line3 1
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  grep -q "recipe line3 version 1 (1 image(s) fetched)" "$work/out" || fail "version 1 not told"
  [ "$(received)" = "rcdb 1060" ] || fail "after the rollback: $(received)"
  # The recipe named by the settings file; row options beside it are refused.
  printf '[line]\r\nrecipe=line3\r\n' >>"$work/line.ini"
  run 0 -- --settings "$work/line.ini" --ledger-url "$url" --image-cache "$cache"
  sent_files "$work/rcdb1"
  cli 2 --settings "$work/line.ini" --rcdb "$work/rcdb2"
  grep -q "row options cannot be given beside it" "$work/err" || fail "rows beside [line] recipe="
  cli 2 --recipe line3 --rcdb "$work/rcdb2"
  grep -q "\-\-recipe takes its rows from the recipe; row options cannot be given beside it" "$work/err" ||
    fail "rows beside --recipe: $(cat "$work/err")"
  # --all: the version taken once, every child writing it from the cache.
  run 0 --devices=2 -- --ledger-url "$url" --recipe line3 --image-cache "$cache" --all
  [ "$(recorded)" = "$(printf 'line3 2\nline3 1\nline3 1\nline3 1\nline3 1')" ] || fail "ledger: $(recorded)"
  "$cli" --settings "$settings" --ledger "$ledger" --report --json | grep -qF \
    '"per_recipe":[{"boards":4,"done":4,"failed":0,"recipe":"line3","version":1},{"boards":1,"done":1,"failed":0,"recipe":"line3","version":2}]' ||
    fail "--report per recipe"
  # The line database's boards name them too, as the forward after each run sent them.
  [ "$(psql -X -q -At -F ' ' -d "$url" -c "SELECT recipe, recipe_version FROM boards ORDER BY id")" = \
    "$(printf 'line3 2\nline3 1\nline3 1\nline3 1\nline3 1')" ] || fail "line database's boards"
  "$cli" --settings "$settings" --ledger "$ledger" --export csv | sed -n '2p;$p' | cut -d, -f24- |
    tr '\n' ' ' | grep -qx '0,line3,2 0,line3,1 ' || fail "--export csv's recipe columns"
  cli 0 --ledger-url "$url" --recipes
  grep -q "^line3 version 1 (active)  [0-9T:-]*Z by [^ ]*  first build\$" "$work/out" || fail "--recipes: $(cat "$work/out")"
  grep -q "^  RCDB $(digest "$work/rcdb2")  1590 bytes  rcdb2\$" "$work/out" || fail "--recipes rows"
  ;;
rollback_holds)
  # Rolled back from version 2 to a version 1 this station never held, whose
  # stored image is damaged: the board is refused with the cause, never
  # written with version 2 from the cache.
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb2"
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  psql -X -q -d "$url" -c "SET session_replication_role = replica" -c \
    "UPDATE recipe_image_pieces SET data = overlay(data placing '\\x00'::bytea from 3) WHERE sha256 = '$(digest "$work/rcdb1")'"
  cli 0 --ledger-url "$url" --activate line3 1
  run 12 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  grep -q "No recipe to write: line3 version 1, the active version, cannot be taken: RCDB: the stored image $(digest "$work/rcdb1" | cut -c1-12) in the line database is damaged" \
    "$work/err" || fail "not refused with its cause: $(cat "$work/err")"
  grep -q "frames 0 " "$work/report" || fail "a frame was sent"
  # A note holding a new line is listed as data, never as a line of its own.
  head -c 1200 /dev/urandom >"$work/rcdb3"
  cli 0 --ledger-url "$url" --publish line3 --note "$(printf 'fixed\nline3 version 9 (active)')" --rcdb "$work/rcdb3"
  cli 0 --ledger-url "$url" --recipes
  ! grep -q "^line3 version 9" "$work/out" || fail "a note made a listing line of its own"
  grep -qF 'fixed\nline3 version 9 (active)' "$work/out" || fail "the note is not shown: $(cat "$work/out")"
  # --wait: the version is taken once the board is there, so a rollback during the wait holds.
  rm -rf "$work/control" "$work/dev"
  mkfifo "$work/control"
  { status=0
    "$runner" --quiet --control="$work/control" --plug=1-1.1:cmd --out="$work/dev" -- \
      "$cli" --settings "$settings" --ledger "$ledger" --ledger-url "$url" --recipe line3 \
      --image-cache "$cache" --wait 60 --json 2>"$work/err" || status=$?
    echo $status >"$work/code"
  } | tee "$work/events" | while IFS= read -r line; do
    case $line in *'"kind":"recipe"'*'"version":3'*)
      "$cli" --settings "$settings" --ledger-url "$url" --activate line3 2 >/dev/null
      echo "plug 1-1.1" >"$work/control" ;;
    esac
  done
  [ "$(cat "$work/code")" -eq 0 ] || { cat "$work/err" >&2; fail "the run after the wait: exit $(cat "$work/code")"; }
  [ "$(received)" = "rcdb 1590" ] || fail "written after the rollback during the wait: $(received)"
  [ "$(recorded | tail -n 1)" = "line3 2" ] || fail "recorded: $(recorded | tail -n 1)"
  ;;
watch_new_version)
  # A version published while the first board is being written is the second board's.
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  act() {
    case $1 in *'"kind":"progress"'*'"percent":'[1-9]*)
      [ -e "$work/published" ] && return
      touch "$work/published"
      "$cli" --settings "$settings" --ledger-url "$url" --publish line3 --rcdb "$work/rcdb2" >/dev/null
      echo "plug 1-1.2" >"$work/control" ;;
    esac
  }
  watch --plug=1-1.1:0 --plug=1-1.2:cmd --latency-ms=5 -- \
    --ledger-url "$url" --recipe line3 --image-cache "$cache" --max-boards 2
  [ "$code" -eq 0 ] || { cat "$work/err" >&2; fail "exit $code"; }
  [ "$(recorded)" = "$(printf 'line3 1\nline3 2')" ] || fail "ledger: $(recorded)"
  grep -q '"kind":"recipe".*"data":{"name":"line3","version":2,"previous":1,"away":false,"fetched":1,' \
    "$work/events" || fail "no switch event"
  ;;
away)
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  # Database away, version cached whole: three takes, two boards written, said once.
  run 0 --plug=1-1.1:0 --plug=1-1.5:1500 -- --ledger-url "$down" --recipe line3 --image-cache "$cache" \
    --watch --max-boards 2 --json
  [ "$(grep -c '"kind":"recipe".*"away":true' "$work/out")" -eq 1 ] || fail "away not said once"
  grep -q '"kind":"station".*the line database cannot be used (.*): writing line3 version 1 from the image cache' \
    "$work/out" || fail "away not in the station's notes"
  [ "$(recorded)" = "$(printf 'line3 1\nline3 1\nline3 1')" ] || fail "ledger: $(recorded)"
  # Still away, an image altered after the first board: the next board is not written, the station goes on.
  image=$cache/$(digest "$work/rcdb1")
  act() {
    case $1 in *'"kind":"outcome"'*'"device"'*)
      [ -e "$work/altered" ] && return
      touch "$work/altered"
      printf 'Z' | dd of="$image" bs=1 seek=7 conv=notrunc 2>/dev/null
      echo "plug 1-1.5" >"$work/control" ;;
    esac
  }
  watch --plug=1-1.1:0 --plug=1-1.5:cmd -- --ledger-url "$down" --recipe line3 --image-cache "$cache" --max-boards 2
  [ "$code" -eq 1 ] || { cat "$work/err" >&2; fail "exit $code, not 1"; }
  grep -q '"kind":"station".*\[1-1.5\] not written: No recipe to write: line3 version 1 is held only in part' \
    "$work/events" || fail "the altered version was not refused"
  grep -q 'stopped; written 1, failed 1' "$work/events" || fail "not one written, one failed"
  [ "$(recorded | wc -l)" -eq 4 ] || fail "a board was recorded for the refused one"
  # Nothing cached: refused before any frame.
  run 12 -- --ledger-url "$down" --recipe line3 --image-cache "$work/empty"
  grep -q "No recipe to write: no version of the recipe line3 is held whole in the image cache" "$work/err" ||
    fail "refusal not told: $(cat "$work/err")"
  grep -q "frames 0 " "$work/report" || fail "a frame was sent: $(cat "$work/report")"
  # The image altered in the cache: refused while away, fetched again when there.
  # A board's writer checks every file it loads: the version its station gave it, altered since, is refused.
  run 3 -- --recipe-version "line3:1:$(digest "$cache/recipes/line3/1")" --image-cache "$cache"
  grep -q "RCDB: the file's SHA-256 [0-9a-f]* differs from the pinned $(digest "$work/rcdb1" | cut -c1-12)" \
    "$work/err" || fail "the writer took an altered image: $(cat "$work/err")"
  grep -q "frames 0 " "$work/report" || fail "a frame was sent"
  run 12 -- --ledger-url "$down" --recipe line3 --image-cache "$cache"
  grep -q "line3 version 1 is held only in part .*RCDB's image is missing or changed" "$work/err" ||
    fail "altered image not refused: $(cat "$work/err")"
  grep -q "frames 0 " "$work/report" || fail "a frame was sent"
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  grep -q "recipe line3 version 1 (1 image(s) fetched)" "$work/out" || fail "not fetched again"
  sent_files "$work/rcdb1"
  ;;
live_from_cache)
  # The recipes cannot be asked while the live rows can still be written: the
  # station writes the cache's version and its live row says so, for a single
  # run as for --watch; once they answer again the row says it no longer is.
  live() { psql -X -q -At -d "$url" -c "SELECT recipe, recipe_version, recipe_away FROM line_stations"; }
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  [ "$(live)" = "line3|1|f" ] || fail "taken: $(live)"
  psql -X -q -d "$url" -c "ALTER TABLE recipe_active RENAME TO recipe_active_away"
  run 0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache"
  [ "$(live)" = "line3|1|t" ] || fail "a single run from the cache: $(live)"
  act() { :; }
  psql -X -q -d "$url" -c "DELETE FROM line_stations"
  watch --plug=1-1.1:0 -- --ledger-url "$url" --recipe line3 --image-cache "$cache" --max-boards 1
  [ "$code" -eq 0 ] || { cat "$work/err" >&2; fail "exit $code"; }
  [ "$(live)" = "line3|1|t" ] || fail "--watch from the cache: $(live)"
  ;;
station_role)
  # The stations' role reads recipes and can neither publish nor activate one.
  cli 0 --ledger-url "$url" --publish line3 --rcdb "$work/rcdb1"
  psql -X -q -d "$url" -c "DO \$\$ BEGIN CREATE ROLE tamsolt_station LOGIN; EXCEPTION WHEN duplicate_object THEN END \$\$" \
    -f "$(dirname "$0")/../../linedb/schema.sql" -f "$(dirname "$0")/../../linedb/station_role.sql"
  station="host=$server user=tamsolt_station dbname=$db"
  cli 2 --ledger-url "$station" --publish line3 --rcdb "$work/rcdb2"
  grep -q "permission denied" "$work/err" || fail "publish not refused: $(cat "$work/err")"
  cli 2 --ledger-url "$station" --activate line3 1
  grep -q "permission denied" "$work/err" || fail "activate not refused"
  cli 0 --ledger-url "$station" --recipes
  [ "$(grep -c '^line3 version' "$work/out")" -eq 1 ] || fail "the station cannot list"
  run 0 -- --ledger-url "$station" --recipe line3 --image-cache "$cache"
  sent_files "$work/rcdb1"
  ;;
*) fail "no case $case" ;;
esac
