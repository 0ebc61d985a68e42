#!/bin/sh
# two_programs_one_device_test.sh RUNNER CLI SETTINGS WORKDIR
# Two tamsolt-cli on one emulated device: the second meets the interface the
# first holds (EBUSY, as the kernel answers) and exits 5 without sending a
# frame; the first, held still meanwhile, then completes.
set -eu
runner=$1 cli=$2 settings=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
# Large enough that the first is still writing when it is stopped.
head -c 32768 /dev/zero | tr '\0' 'r' > "$work/records.rdb"
"$runner" --quiet --out="$work/out" -- sh -c '
  cli=$1 settings=$2 work=$3
  "$cli" --settings "$settings" --rcdb "$work/records.rdb" > "$work/first.log" 2>&1 &
  first=$!
  until grep -q "开始下载RCDB" "$work/first.log"; do
    kill -0 $first 2>/dev/null || { echo "the first ended early:"; cat "$work/first.log"; exit 1; }
    sleep 0.01
  done
  kill -STOP $first
  if grep -q "RCDB下载完成" "$work/first.log"; then echo "the first finished too soon"; exit 1; fi
  second=0
  "$cli" --settings "$settings" --rcdb "$work/records.rdb" > "$work/second.log" 2>&1 || second=$?
  kill -CONT $first
  wait $first || { echo "the first failed: $?"; cat "$work/first.log"; exit 1; }
  cat "$work/second.log"
  test $second -eq 5 || { echo "the second exited $second, not 5"; exit 1; }
' sh "$cli" "$settings" "$work"
# One whole exchange, no frame of the second among the first's.
test -s "$work/out/rcdb.bin"
grep -qx "exchanges 1" "$work/out/summary.txt"
grep -qx "rejected 0" "$work/out/summary.txt"
grep -qx "retries 0" "$work/out/summary.txt"
