#!/usr/bin/env bash
# Builds and runs the benchmark (docs/performance.md): the reference batch in
# real time in-process, then through the window and tamsolt-cli under umockdev,
# and tamsolt-cli --all on 1, 4 and 8 emulated devices. It takes about twenty
# minutes; run it on a quiet machine, since every figure is a wall time. Arguments go to tamsolt-bench,
# e.g. scripts/bench.sh --divisor 16 for a quick check of the program itself.
set -euo pipefail
cd "$(dirname "$0")/.."
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
