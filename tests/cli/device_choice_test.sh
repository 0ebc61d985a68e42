#!/bin/sh
# device_choice_test.sh RUNNER CLI SETTINGS RCDB WORKDIR
# Two devices on the bus: --device names the second (001:003), which alone
# receives the image; the log file gets every line and box with date and device.
set -eu
runner=$1 cli=$2 settings=$3 rcdb=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
"$runner" --quiet --devices 2 --out="$work/out" -- \
  "$cli" --settings "$settings" --device 001:003 --log-file "$work/log" --rcdb "$rcdb"
test -s "$work/out/device-2/rcdb.bin"
if [ -e "$work/out/device-1" ]; then
  echo "device 1 was written" >&2
  exit 1
fi
grep -q '^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] 001:003 [0-9:]\{8\}RCDB' "$work/log"
grep -q '^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] 001:003 \[.*\] ' "$work/log"  # the completion box
test "$(wc -l < "$work/log")" -eq 3
