#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test twice, plainly and under AddressSanitizer + UndefinedBehaviorSanitizer,
# and then the fuzz targets over their corpora in a third tree built with clang.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
# What the run leaves to undo, newest first (see the trap).
cleanup=":"
trap 'eval "$cleanup"' EXIT
# Qt wants a private runtime folder; without one every Qt program complains.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  cleanup="rm -rf '$XDG_RUNTIME_DIR'; $cleanup"
fi
start=$(date +%s)
# Most tests wait on the emulated device's pacing rather than compute (the
# suite's processes use a quarter of the time it takes), so four per core keep
# the cores busy, and every test must pass under such load anyway. The fuzz
# targets compute: one per core.
test_jobs=$(( 4 * $(nproc) ))

# Both test trees are unity builds with line tables only (all a failing test's
# backtrace or a sanitizer's report prints): they build in under half the time.
quick_build=(-DCMAKE_UNITY_BUILD=ON)
scripts/build.sh build "${quick_build[@]}" \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
if [ "$(id -u)" -ne 0 ]; then
  (cd build && ctest --output-on-failure -j "$test_jobs")
else
  # Root writes any device node and reads any thread's state, so a test that
  # passes as root alone proves little: the plain tree's tests run as nobody
  # (tests/system/as_ordinary_user.sh), on the tree lent to it for the run and
  # with a home and temporary folder of its own. Only the tests labelled root
  # (dpkg, which skip themselves for anyone else) run as root after it.
  owner=$(stat -c %u:%g build)
  nobody_home=$(mktemp -d)
  cleanup="rm -rf '$nobody_home'; chown -R $owner build; $cleanup"
  mkdir "$nobody_home/tmp"
  chown -R nobody:nogroup build "$nobody_home"
  plain_start=$(date +%s)
  sh tests/system/as_ordinary_user.sh env HOME="$nobody_home" XDG_RUNTIME_DIR="$nobody_home" \
    TMPDIR="$nobody_home/tmp" TEST_TMPDIR="$nobody_home/tmp/" \
    ctest --test-dir "$PWD/build" --output-on-failure -j "$test_jobs"
  chown -R "$owner" build
  # As root none of them may skip itself: it would run nowhere.
  root_run=$(cd build && ctest --output-on-failure -j "$test_jobs" -L root) || { echo "$root_run"; exit 1; }
  echo "$root_run"
  if grep -q '(Skipped)' <<<"$root_run"; then
    echo "A test labelled root skipped itself as root" >&2
    exit 1
  fi
  echo "Plain tree's tests (as nobody, then as root) took $(( $(date +%s) - plain_start )) s"
fi

# Only what its tests run: the programs no test starts and the package are
# built and checked in the plain tree alone. -O1 halves the time each file
# takes to compile again.
scripts/build.sh build-asan "${quick_build[@]}" -DTAMSOLT_SANITIZE=ON -DTAMSOLT_BUILD_ALL_PROGRAMS=OFF \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
# verify_asan_link_order: the umockdev preload library comes before the ASan runtime.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$test_jobs")

# Each fuzz target over its corpus and a fixed number of further inputs from a
# fixed seed (scripts/fuzz.sh runs them for longer).
scripts/fuzz.sh --build
(cd build-fuzz && ctest --output-on-failure -j "$(nproc)")

echo "Test suite finished in $(( $(date +%s) - start )) s"
