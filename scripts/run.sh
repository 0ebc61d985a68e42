#!/usr/bin/env bash
# The main job for a newcomer: install what is missing, build, and open the
# window on the emulated VX742 (Debian's libusb 0.1 served by umockdev). Images
# the device receives land in out/device/. Extra arguments go to the emulated
# device as faults, e.g. scripts/run.sh --begin-status=3
#
# Without a display there is nobody to press the button: the window is drawn to
# out/window.png instead, and one batch of all nine rows runs on the emulated
# device through the real window, offscreen.
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
QT_QPA_PLATFORM=offscreen TAMSOLT_RECEIVED_DIR="$PWD/out/device" \
  build/bin/tamsolt-sim-run --quiet "$@" --out=out/device -- build/bin/tamsolt_window_batch_test
echo "The device stored:"
cat out/device/summary.txt
