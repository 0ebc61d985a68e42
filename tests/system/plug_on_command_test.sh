#!/bin/sh
# plug_on_command_test.sh RUNNER WORKDIR
# Two boards of --plug=1-1.3:cmd arrive and leave when the control channel
# says so, one after the other; a plug while the board before is there is
# said and ignored. Every step waits for what the bus shows, never for a time.
set -eu
if [ "$1" != inside ]; then
  runner=$1 work=$2
  rm -rf "$work" && mkdir -p "$work" && mkfifo "$work/control"
  "$runner" --quiet --control="$work/control" --plug=1-1.3:cmd --plug=1-1.3:cmd -- \
    sh "$0" inside "$work/control" 2> "$work/stderr" || { cat "$work/stderr"; exit 1; }
  cat "$work/stderr"
  grep -q "^tamsolt-sim-run: control: plug 1-1.3: the board plugged there before is still" "$work/stderr"
  exit 0
fi
control=$2
devnum() { cat /sys/bus/usb/devices/1-1.3/devnum 2>/dev/null || true; }
test -z "$(devnum)" && test ! -e /dev/bus/usb/001/002  # not before it is told
echo "plug 1-1.3" > "$control"
until [ "$(devnum)" = 2 ]; do sleep 0.01; done
test -e /dev/bus/usb/001/002
echo "unplug 1-1.3" > "$control"
while [ -e /dev/bus/usb/001/002 ]; do sleep 0.01; done
test -z "$(devnum)"
echo "plug 1-1.3" > "$control"
until [ "$(devnum)" = 3 ]; do sleep 0.01; done
echo "plug 1-1.3" > "$control"  # while the second is there: refused
# Commands are done in order: once this one shows, the refusal has been said.
echo "unplug 1-1.3" > "$control"
while [ -e /dev/bus/usb/001/003 ]; do sleep 0.01; done
