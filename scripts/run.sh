#!/usr/bin/env bash
# The main job for a newcomer: install what is missing, build, and open the
# window on the emulated VX742 (Debian's libusb 0.1 served by umockdev). Images
# the device receives land in out/device/. Extra arguments go to the emulated
# device as faults, e.g. scripts/run.sh --begin-status=3
#
# Without a display there is nobody to press the button: the window is drawn to
# out/window.png instead, and one batch of all nine rows runs through the real
# window, offscreen, against the emulated device; the log, the message boxes
# and what the device stored are printed. The exit code is 0 when the batch
# ended as it should (with faults given, their checks may fail by design).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build

mkdir -p out/device
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/tamsolt-sim-run "$@" --out=out/device -- build/bin/tamsolt
fi

echo "No display: drawing the window to out/window.png and running one batch offscreen."
scripts/screenshot.sh out/window.png build

# Qt wants a private runtime folder; without one it only complains.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
status=0
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
  build/bin/tamsolt-sim-run --quiet "$@" --out=out/device -- \
  build/bin/tamsolt_batch_window_tests "$PWD/out/device" --gtest_brief=1 \
  --gtest_filter=BatchWindow.AllNineRowsArriveInTheFormTheDeviceStores || status=$?

echo "The device's counters (out/device/summary.txt):"
cat out/device/summary.txt 2>/dev/null || echo "  none: the device saw no end command"
if [ "$status" -eq 0 ]; then
  echo "The batch ran through: every image the device stored equals its source."
else
  echo "The batch did not end as expected (exit code $status); see the lines above."
fi
exit "$status"
