#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test twice, plainly and under AddressSanitizer + UndefinedBehaviorSanitizer,
# and then the fuzz targets over their corpora in a third tree built with clang.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
# Qt wants a private runtime folder; without one every Qt program complains.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
start=$(date +%s)

scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")

scripts/build.sh build-asan -DTAMSOLT_SANITIZE=ON
# verify_asan_link_order: the umockdev preload library comes before the ASan runtime.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$(nproc)")

# Each fuzz target over its corpus and a fixed number of further inputs from a
# fixed seed (scripts/fuzz.sh runs them for longer).
scripts/fuzz.sh --build
(cd build-fuzz && ctest --output-on-failure -j "$(nproc)")

echo "Test suite finished in $(( $(date +%s) - start )) s"
