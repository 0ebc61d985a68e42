#!/bin/sh
# Run under: tamsolt-sim-run --devices=0 --plug=1-1.3:600 --plug=1-2:200 --plug=1-1.3:0:600
# The boards show under /sys/bus/usb/devices by port path, as the kernel shows
# them. The third board is on 1-1.3 from the start as 001:002, the second
# comes on 1-2 as 003; once the third is unplugged, the first is plugged into
# 1-1.3 and comes as 004 (it waits for the port, whichever the runner looks
# at first), and 002's node is gone. Only the end state is checked: it does
# not depend on how soon this script looks.
set -eu
devices=/sys/bus/usb/devices
devnum() { cat "$devices/$1/devnum" 2>/dev/null || true; }
until [ "$(devnum 1-1.3)" = 4 ] && [ -e /dev/bus/usb/001/004 ]; do sleep 0.01; done
test "$(devnum 1-2)" = 3
test "$(cat $devices/1-1.3/busnum)" = 1
test ! -e /dev/bus/usb/001/002
test "$(devnum 1-1.3)" = 4
