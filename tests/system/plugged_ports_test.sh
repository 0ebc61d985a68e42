#!/bin/sh
# Run under: tamsolt-sim-run --devices=0 --plug=1-1.3:0:300 --plug=1-1.3:600 --plug=1-2:200
# The boards show under /sys/bus/usb/devices by port path, as the kernel shows
# them: the first on 1-1.3 as 001:002, then 1-2; once the first is unplugged
# the second board on 1-1.3 comes under a new number, and 002's node is gone.
set -eu
devices=/sys/bus/usb/devices
devnum() { cat "$devices/$1/devnum" 2>/dev/null || true; }
wait_for() {
  until eval "$1"; do sleep 0.01; done
}
test "$(devnum 1-1.3)" = 2
test "$(cat $devices/1-1.3/busnum)" = 1
wait_for 'test -n "$(devnum 1-2)"'
wait_for 'test -n "$(devnum 1-1.3)" && test "$(devnum 1-1.3)" != 2'
test ! -e /dev/bus/usb/001/002
wait_for 'test -e "/dev/bus/usb/001/$(printf %03d "$(devnum 1-1.3)")"'
