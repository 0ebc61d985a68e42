#!/usr/bin/env bash
# Draws the main window as it starts with the shipped setting.ini, offscreen,
# into a PNG, and the station window with eight slots in mixed states (a
# recorded event stream) into another.
# Usage: scripts/screenshot.sh [OUTPUT.png] [BUILD_DIR] [STATION_OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/window.png}")
build=${2:-build}
station_out=$(realpath -m "${3:-docs/station.png}")

cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target tamsolt tamsolt_station_program -j "$(nproc)" >/dev/null

# A private folder: the window reads setting.ini beside its executable, and the
# one in the build tree may carry an operator's rows.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$build/bin/tamsolt" "$stage/"
cp res/setting.ini "$stage/"

# Qt wants a private runtime folder; without one it only complains.
mkdir -m 700 "$stage/runtime"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$stage/runtime" "$stage/tamsolt" --screenshot "$out"
echo "$out"

# The station: the fixture's names for two ports, and the recorded stream.
cp "$build/bin/tamsolt-station" "$stage/"
printf '\r\n[slots]\r\n1-1.1=A1\r\n1-1.2=A2\r\n' >>"$stage/setting.ini"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$stage/runtime" "$stage/tamsolt-station" \
  --replay tests/station/events_every_state.jsonl --screenshot "$station_out"
echo "$station_out"
