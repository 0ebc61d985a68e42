#!/usr/bin/env bash
# The main job for a newcomer: install what is missing, build, and open the
# window on the emulated VX742 (Debian's libusb 0.1 served by umockdev). Images
# the device receives land in out/device/. Extra arguments go to the emulated
# device as faults, e.g. scripts/run.sh --begin-status=3
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build

mkdir -p out/device
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: opening the window under Xvfb (xvfb-run)."
  exec xvfb-run -a build/bin/tamsolt-sim-run "$@" --out=out/device -- build/bin/tamsolt
fi
exec build/bin/tamsolt-sim-run "$@" --out=out/device -- build/bin/tamsolt
