#!/usr/bin/env bash
# A long soak: COUNT batches with drawn device faults, batch i drawn from seed
# SEED + i, on the virtual clock. A failing batch prints its seed; replay it
# alone with `scripts/soak.sh 1 SEED`.
# Usage: scripts/soak.sh COUNT SEED   (BUILD_DIR=build-asan for the ASan build)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: $0 COUNT SEED" >&2
  exit 2
fi
dir=${BUILD_DIR:-build}
[ -d "$dir" ] || cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target tamsolt_soak -j 2 >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:verify_asan_link_order=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$dir/bin/tamsolt_soak" "$1" "$2"
