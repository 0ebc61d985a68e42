#!/usr/bin/env bash
# Builds and runs the benchmark (docs/performance.md): the reference batch in
# real time in-process, then through the window and tamsolt-cli under umockdev,
# and tamsolt-cli --all on 1, 4 and 8 emulated devices. It takes about twenty
# minutes; run it on a quiet machine, since every figure is a wall time. Arguments go to tamsolt-bench,
# e.g. scripts/bench.sh --divisor 16 for a quick check of the program itself.
#
# scripts/bench.sh ledger [--boards N]: the ledger instead (docs/performance.md,
# "A year of boards"): --report, a day's --export and the forward of a
# backlog of 10,000 boards to a throw-away local PostgreSQL, on a generated
# ledger of a busy station's year, made once and kept under build/bench-ledger/.
#
# scripts/bench.sh line [--boards N]: the line database's questions over a
# line's year, then the line page: its first load, and 20 stations of 16
# slots changing every second with the page open in 10 windows of chromium
# (bench/line_questions.sh; docs/performance.md, "The line page").
set -euo pipefail
cd "$(dirname "$0")/.."

seconds() { awk -v ms="$1" 'BEGIN { printf "%.3f", ms / 1000 }'; }

# Runs a command three times, its output thrown away; prints the best and the
# slowest wall time. A failing run stops the benchmark.
timed() {
  local label=$1 target=$2 best="" worst="" start end ms
  shift 2
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ -z "$worst" ] || [ "$ms" -gt "$worst" ]; then worst=$ms; fi
  done
  printf '  %-44s best %s s, slowest %s s (target %s s)\n' "$label" "$(seconds "$best")" \
    "$(seconds "$worst")" "$target"
}

ledger_bench() {
  local boards=500000 start ms
  [ "${1:-}" != --boards ] || boards=$2
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$(nproc)" --target tamsolt_cli_program tamsolt_bench_ledger >/dev/null
  local cli=build/bin/tamsolt-cli dir=build/bench-ledger
  local ledger=$dir/year-$boards.sqlite
  mkdir -p "$dir"
  if [ ! -f "$ledger" ]; then
    echo "Making a ledger of $boards boards, nine images each ($ledger)"
    start=$(date +%s%N)
    build/bin/tamsolt-bench-ledger "$ledger.new" --boards "$boards"
    mv "$ledger.new" "$ledger"
    echo "  made in $(( ($(date +%s%N) - start) / 1000000 )) ms"
  fi
  # Every board forwarded but the last 10,000, as a station an hour or so
  # into a line database outage would have it.
  build/bin/tamsolt-bench-ledger "$ledger" --unforward 10000
  # An index added in place is made on the first open, not timed below.
  "$cli" --ledger "$ledger" --report >/dev/null
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(uname -srm)"
  echo "Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Packages: $(dpkg-query -W -f '${Package} ${Version}, ' libsqlite3-0 libpq5 2>/dev/null)"
  echo "Ledger: $boards boards, $(( $(stat -c %s "$ledger") / 1048576 )) MiB; TZ=${TZ:-(system: $(date +%Z))}"
  local day=2026-06-16
  timed "--report, the whole ledger" 2 "$cli" --ledger "$ledger" --report
  timed "--report --json, the whole ledger" 2 "$cli" --ledger "$ledger" --report --json
  timed "--report --since 2026-12-01 (a month)" 2 "$cli" --ledger "$ledger" --report --since 2026-12-01
  timed "--report --since $day --until 2026-06-17" 2 "$cli" --ledger "$ledger" --report --since "$day" --until 2026-06-17
  timed "--export jsonl, one day ($day)" 1 "$cli" --ledger "$ledger" --export jsonl --since "$day" --until 2026-06-17
  timed "--export csv, one day ($day)" 1 "$cli" --ledger "$ledger" --export csv --since "$day" --until 2026-06-17
  echo "  one day: $("$cli" --ledger "$ledger" --export jsonl --since "$day" --until 2026-06-17 | wc -l) boards"

  # The forward: a throw-away PostgreSQL as the line database tests start it.
  pg_state=$PWD/$dir/pg-server-state
  trap 'sh tests/linedb/pg_server.sh stop "$pg_state"' EXIT
  local started
  if ! started=$(sh tests/linedb/pg_server.sh start "$pg_state" 2>&1); then
    echo "  the forward is skipped: $started"
  else
    local url="host=$(cat "$pg_state") dbname=postgres user=postgres"
    start=$(date +%s%N)
    "$cli" --ledger "$ledger" --ledger-url "$url" --ledger-sync | sed 's/^/  /'
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    printf '  %-44s %s s (target 60 s), %s ms a board\n' "--ledger-sync, a backlog of 10,000 boards" \
      "$(seconds "$ms")" "$(awk -v ms="$ms" 'BEGIN { printf "%.2f", ms / 10000 }')"
  fi
  echo "Load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
}

if [ "${1:-}" = line ]; then
  shift
  scripts/build.sh build >/dev/null
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(uname -srm)"
  exec bench/line_questions.sh "$@"
fi
if [ "${1:-}" = ledger ]; then
  shift
  ledger_bench "$@"
  exit 0
fi
# The ordinary build: the programs and setting.ini beside them, as an operator has them.
scripts/build.sh build

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(uname -srm)"
echo "Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Packages: $(dpkg-query -W -f '${Package} ${Version}, ' libusb-0.1-4 libumockdev0 2>/dev/null)"
build/bin/tamsolt-bench "$@"
# A station on a recipe (docs/performance.md, "Recipes"), against a throw-away PostgreSQL.
recipe_state=$(mktemp)
recipe_folder=$(mktemp -d)
trap 'sh tests/linedb/pg_server.sh stop "$recipe_state" >/dev/null; rm -rf "$recipe_state" "$recipe_folder"' EXIT
sh tests/linedb/pg_server.sh start "$recipe_state" >/dev/null
recipe_server=$(cat "$recipe_state")
psql -X -q -d "host=$recipe_server user=postgres dbname=postgres" -c "CREATE DATABASE bench_recipe"
build/bin/tamsolt-bench-recipe "host=$recipe_server user=postgres dbname=bench_recipe" "$recipe_folder"
echo "Load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
