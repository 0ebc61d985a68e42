#!/bin/sh
# sysfs_lag_test.sh RUNNER CLI SETTINGS WORKDIR
# --sysfs-lag-ms: device 1's node comes a minute before its port's sysfs
# entry, so a scan meanwhile lists a board whose port cannot be read; device 2
# (plugged and unplugged on command) loses its entry first and its node 1.5 s
# later.
set -eu
if [ "$1" != inside ]; then
  runner=$1
  work=$4
  rm -rf "$work" && mkdir -p "$work" && mkfifo "$work/control"
  exec "$runner" --quiet --control="$work/control" --devices=0 --plug=1-1.1:0 --plug=1-1.2:cmd \
    --fault-on=1:--sysfs-lag-ms=60000 --fault-on=2:--sysfs-lag-ms=1500 -- \
    sh "$0" inside "$2" "$3" "$work/control"
fi
cli=$2 settings=$3 control=$4
devices=/sys/bus/usb/devices
until [ -e /dev/bus/usb/001/002 ]; do sleep 0.01; done
test "$("$cli" --settings "$settings" --list)" = "001:002"
test ! -e $devices/1-1.1
echo "plug 1-1.2" > "$control"
until [ "$(cat $devices/1-1.2/devnum 2>/dev/null || true)" = 3 ]; do sleep 0.01; done
echo "unplug 1-1.2" > "$control"
while [ -e $devices/1-1.2 ]; do sleep 0.01; done
test -e /dev/bus/usb/001/003  # within the lag
while [ -e /dev/bus/usb/001/003 ]; do sleep 0.01; done
