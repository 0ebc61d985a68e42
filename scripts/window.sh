#!/usr/bin/env bash
# For a desktop: install what is missing, build, and open the window on the
# emulated VX742 (Debian's libusb 0.1 served by umockdev). Sample images of
# every kind are made in out/samples/ to choose on the rows; the images the
# device receives land in out/device/. Extra arguments go to the emulated
# device as faults, e.g. scripts/window.sh --begin-status=3
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "window.sh: no display (DISPLAY or WAYLAND_DISPLAY): the window needs a desktop." >&2
  echo "Without one, scripts/run.sh writes the images from the command line and" >&2
  echo "scripts/screenshot.sh draws the window into a picture." >&2
  exit 1
fi

scripts/setup.sh
scripts/build.sh build
build/bin/tamsolt-sample-images out/samples >/dev/null
echo "Choose the files in out/samples/ on the rows. The FONT, LANG, BMP and PIC rows"
echo "are hidden by the layout: enable and choose them in build/bin/setting.ini."
mkdir -p out/device
exec build/bin/tamsolt-sim-run "$@" --out=out/device -- build/bin/tamsolt
