#!/bin/sh
# orphan_served_test.sh RUNNER CLI SETTINGS WORKDIR
# The program starts a writer in the background and is killed at once; the
# runner keeps the board served until the orphaned writer has finished, keeps
# the program's own exit code (128 + SIGKILL) and reports what the board saw.
set -eu
runner=$1 cli=$2 settings=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
head -c 2048 /dev/zero | tr '\0' 'r' > "$work/records.rdb"
code=0
"$runner" --report="$work/report" -- sh -c \
  '"$1" --settings "$2" --rcdb "$3" > "$4/cli.out" 2>&1 & kill -KILL $$' \
  sh "$cli" "$settings" "$work/records.rdb" "$work" 2> "$work/err" || code=$?
cat "$work/report" "$work/err" "$work/cli.out"
test "$code" = 137
grep -q "RCDB下载完成" "$work/cli.out"
# The report counts what the summary on stderr counts.
frames=$(sed -n 's/^tamsolt-sim-run: device received \([0-9]*\) frames (0 rejected.*/\1/p' "$work/err")
test "$frames" -gt 0
grep -qx "device 1 port 1-1.1 frames $frames rejected 0 interface released ended [01]" "$work/report"
