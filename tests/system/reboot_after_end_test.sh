#!/bin/sh
# reboot_after_end_test.sh CLI SETTINGS WORKDIR, under:
#   tamsolt-sim-run --reboot-after-end-ms=300 --out=WORKDIR/out
# A board that reboots after the end exchange: the run is done, the device
# left once the end reply was read and is back on its port under a new number.
set -eu
cli=$1 settings=$2 work=$3
head -c 2048 /dev/zero | tr '\0' 'r' > "$work/records.rdb"
"$cli" --settings "$settings" --rcdb "$work/records.rdb"
devnum() { cat /sys/bus/usb/devices/1-1.1/devnum 2>/dev/null || true; }
until [ "$(devnum)" = 3 ]; do sleep 0.01; done
test -e /dev/bus/usb/001/003
test ! -e /dev/bus/usb/001/002
grep -qx "exchanges 1" "$work/out/summary.txt"
