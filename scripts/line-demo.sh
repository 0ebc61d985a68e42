#!/usr/bin/env bash
# The line page in one command: a throw-away PostgreSQL, three emulated
# stations into which boards are put and taken out every few seconds (the
# second one's third slot refuses every board), and tamsolt-line serving the page. Prints the page's address and
# runs until Ctrl-C. Usage: scripts/line-demo.sh [PORT, default 8742]
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8742}
scripts/setup.sh
[ -x build/bin/tamsolt-line ] && [ -x build/bin/tamsolt-sim-run ] || scripts/build.sh build >/dev/null
bin=$PWD/build/bin

work=$(mktemp -d /tmp/tamsolt-line-demo-XXXXXX)
chmod 755 "$work"
cleanup() {
  trap '' INT TERM
  # Each station's loop and the lot it is writing (whose writers end with it).
  for pid in $(jobs -p); do
    pkill -TERM -P "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  sh tests/linedb/pg_server.sh stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

sh tests/linedb/pg_server.sh start "$work/server" >/dev/null
server=$(cat "$work/server")
export PGOPTIONS="-c client_min_messages=warning"
psql -X -q -d "host=$server user=postgres dbname=postgres" -c "CREATE DATABASE line_demo"
url="host=$server user=postgres dbname=line_demo"
psql -X -q -d "$url" -c "CREATE ROLE tamsolt_station LOGIN" -c "CREATE ROLE tamsolt_line_reader LOGIN"
for step in schema.sql schema_v2.sql schema_v3.sql schema_v4.sql schema_v5.sql schema_v6.sql station_role.sql \
  line_reader_role.sql; do
  psql -X -q -v ON_ERROR_STOP=1 -d "$url" -f "linedb/$step"
done

printf '[line]\r\nurl=host=%s user=tamsolt_line_reader dbname=line_demo\r\nlisten=127.0.0.1\r\nport=%s\r\n' \
  "$server" "$port" >"$work/line.ini"
"$bin/tamsolt-line" --settings "$work/line.ini" &

head -c 1060 /dev/urandom >"$work/rcdb"
for n in 1 2 3; do
  ini=$work/station-$n.ini
  cp res/setting.ini "$ini"
  printf '[station]\r\nname=demo-station-%s\r\n[slots]\r\n1-1.1=S%s-1\r\n1-1.2=S%s-2\r\n1-1.3=S%s-3\r\n1-1.4=S%s-4\r\n' \
    "$n" "$n" "$n" "$n" "$n" >>"$ini"
  # Boards put in and taken out as an operator would: one in each slot every
  # 6 s, out again 4.5 s later, eight a slot (the emulator's 32 devices) in
  # one --watch session; then the next session. The second station's third
  # slot refuses every board, so it soon asks to be checked.
  plugs=() faults=()
  for k in 0 1 2 3 4 5 6 7; do
    for p in 1 2 3 4; do
      at=$((k * 6000 + p * 400 + n * 150))
      plugs+=("--plug=1-1.$p:$at:$((at + 4500))")
      [ "$n" != 2 ] || [ "$p" != 3 ] || faults+=("--fault-on=$((k * 4 + p)):--begin-status=5")
    done
  done
  (
    while :; do
      "$bin/tamsolt-sim-run" --quiet "${plugs[@]}" "${faults[@]}" -- "$bin/tamsolt-cli" --settings "$ini" \
        --ledger "$work/ledger-$n.sqlite" --ledger-url "$url" --watch --max-boards 32 --rcdb "$work/rcdb" \
        >/dev/null 2>>"$work/station-$n.log" || true
    done
  ) &
done

echo "The line page: http://127.0.0.1:$port/  (three emulated stations writing; Ctrl-C ends the demo)"
wait
