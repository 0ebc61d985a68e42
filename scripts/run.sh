#!/usr/bin/env bash
# The main job for a newcomer: install what is missing, build, make a sample
# image of every kind in out/samples/, write all nine in one batch with
# tamsolt-cli to the emulated VX742 (Debian's libusb 0.1 served by umockdev),
# and check that the device stored every image byte for byte (out/device/).
# Extra arguments go to the emulated device as faults, e.g.
# scripts/run.sh --begin-status=3 (the device restarts once and the batch goes
# on). Exit 0 only when the batch ended with its completion message and every
# image matched.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build

cli=build/bin/tamsolt-cli
if [ ! -x "$cli" ]; then
  echo "run.sh: $cli was not built: this checkout has no command-line runner yet." >&2
  echo "The window against the emulated device runs with scripts/window.sh (needs a desktop)." >&2
  exit 1
fi

start=$(date +%s)
rm -rf out/samples out/device out/ledger.sqlite*
# The generator describes its files on stderr and prints the CLI's row
# arguments on stdout, one per line.
rows_text=$(build/bin/tamsolt-sample-images out/samples)
mapfile -t rows <<<"$rows_text"

echo
echo "One batch of all nine rows to the emulated VX742:"
echo "  tamsolt-sim-run ${*:+$* }--out=out/device -- tamsolt-cli --ledger out/ledger.sqlite ${rows[*]}"
# Qt wants a private runtime folder; without one it only complains.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
status=0
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$runtime} \
  build/bin/tamsolt-sim-run "$@" --out=out/device -- "$cli" --ledger out/ledger.sqlite "${rows[@]}" ||
  status=$?

if [ "$status" -ne 0 ]; then
  case $status in
    2) why="bad usage" ;;
    3) why="a row was refused" ;;
    4) why="device not found" ;;
    5) why="device could not be opened" ;;
    6) why="no permission on the device" ;;
    7) why="the device refused the begin command" ;;
    8) why="the transfer gave up" ;;
    9) why="a wait timed out" ;;
    11) why="done, but its record was lost" ;;
    *) why="see the lines above" ;;
  esac
  echo "tamsolt-cli ended with exit code $status: $why."
fi

echo
verified=0
build/bin/tamsolt-verify-device out/samples out/device || verified=$?
echo
echo "The board as the ledger out/ledger.sqlite records it (tamsolt-cli --ledger out/ledger.sqlite --report):"
"$cli" --ledger out/ledger.sqlite --report || true
echo "The run took $(( $(date +%s) - start )) s."
if [ "$status" -ne 0 ]; then exit "$status"; fi
exit "$verified"
