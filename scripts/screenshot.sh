#!/usr/bin/env bash
# Draws the main window as it starts with the shipped setting.ini, offscreen,
# into a PNG. Usage: scripts/screenshot.sh [OUTPUT.png] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/window.png}")
build=${2:-build}

cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target tamsolt -j "$(nproc)" >/dev/null

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
