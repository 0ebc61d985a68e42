#!/bin/sh
# reader_in_group.sh RUNNER CLI SETTINGS RCDB
# A member of the station's group, who may read the ledger (the file 0640,
# its folder 0750) but write neither, reads it with --report and --export
# while no writer runs: no -shm to make, nothing to write.
set -u
runner=$1 cli=$2 settings=$3 rcdb=$4
[ "$(id -u)" = 0 ] || { echo "reading as another account needs root to switch to it: skipped"; exit 77; }
as_reader="setpriv --reuid=nobody --regid=nogroup --clear-groups"
$as_reader test -x "$cli" || { echo "nobody cannot run $cli: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
fail() { echo "FAILED: $*" >&2; cat "$work"/out* >&2; exit 1; }
mkdir -m 0750 "$work/state"
ledger=$work/state/ledger.sqlite
"$runner" --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$rcdb" > "$work/out-write" 2>&1 ||
  fail "the board was not written"
[ ! -e "$ledger-wal" ] || fail "the writer left its -wal behind"
chmod 0640 "$ledger"
chgrp nogroup "$work/state" "$ledger"
$as_reader "$cli" --settings "$settings" --ledger "$ledger" --report > "$work/out-report" 2>&1 ||
  fail "--report refused the group's reader"
grep -q '^boards 1: 1 done' "$work/out-report" || fail "--report does not count the board"
$as_reader "$cli" --settings "$settings" --ledger "$ledger" --export jsonl > "$work/out-export" 2>&1 ||
  fail "--export refused the group's reader"
[ "$(grep -c '"outcome_code":0' "$work/out-export")" -eq 1 ] || fail "--export does not give the board"
