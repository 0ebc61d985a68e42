#!/usr/bin/env bash
# Runs every libFuzzer target of tests/fuzz for longer than the test suite
# does, one after another, and prints for each its executions, coverage and
# findings. Usage: scripts/fuzz.sh [SECONDS per target, default 600] [TARGET...]
#        scripts/fuzz.sh --build   (only configures and builds the fuzz tree)
# The fuzz tree is build-fuzz (clang, ASan + UBSan, no window). New inputs go
# to build-fuzz/long/TARGET/corpus; a crash, leak or hang is saved in
# build-fuzz/long/TARGET/ and the script exits 1. A finding becomes a
# regression input: copy it into tests/fuzz/TARGET/ under a name that says
# what it broke, and mend the fault with a test.
set -euo pipefail
cd "$(dirname "$0")/.."

build() {
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTAMSOLT_FUZZ=ON >/dev/null
  cmake --build build-fuzz --target fuzz_targets -j "$(nproc)"
}

if [ "${1:-}" = "--build" ]; then
  build
  exit 0
fi

seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reply_check device_frames settings_file boot_picture image_files child_event_line
  station_events ledger_file)

build >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), ${seconds} s per target"
printf '%-14s %12s %9s %8s %8s %7s  %s\n' target executions exec/s cov features corpus findings
found=0
for target in "${targets[@]}"; do
  work=build-fuzz/long/$target
  rm -rf "$work"
  mkdir -p "$work/corpus"
  log=$work/fuzz.log
  status=0
  build-fuzz/bin/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "tests/fuzz/$target" \
    >"$log" 2>&1 || status=$?
  stats=$(grep -E '^#[0-9]+' "$log" | tail -1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$stats")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$stats")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$stats")
  findings=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'slow-unit-*' \) | sort)
  summary=none
  if [ -n "$findings" ] || [ "$status" -ne 0 ]; then
    summary="exit $status: $(echo $findings)"
    found=1
  fi
  printf '%-14s %12s %9s %8s %8s %7s  %s\n' "$target" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$summary"
done
exit $found
