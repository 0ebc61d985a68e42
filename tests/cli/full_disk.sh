#!/bin/sh
# full_disk.sh RUNNER CLI SETTINGS RCDB WORKDIR
# The ledger's disk full before a run starts, on a small file system the test
# makes itself (a tmpfs in a user and mount namespace of its own): the board
# is still written, and the operator reads that the disk is full and which
# folder it holds, not a failing disk. --report on it says the same.
set -u
runner=$1 cli=$2 settings=$3 rcdb=$4 work=$5
fail() { echo "FAILED: $*" >&2; cat "$work"/out* >&2; exit 1; }
if [ "${FULL_DISK_INSIDE:-}" != 1 ]; then
  rm -rf "$work"
  mkdir -p "$work/disk"
  unshare -rm true 2>/dev/null || { echo "no user namespace for a file system of the test's own: skipped"; exit 77; }
  exec env FULL_DISK_INSIDE=1 unshare -rm sh "$0" "$@"
fi
mount -t tmpfs -o size=320k tmpfs "$work/disk" || { echo "cannot mount a tmpfs here: skipped"; exit 77; }
ledger=$work/disk/ledger.sqlite
"$runner" --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$rcdb" > "$work/out-first" 2>&1 ||
  fail "the first board was not written"
# Every block the file system has left.
dd if=/dev/zero of="$work/disk/fill" bs=4k 2>/dev/null
"$runner" --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$rcdb" > "$work/out-full" 2>&1
code=$?
[ "$code" -eq 11 ] || fail "exit $code, expected 11 (written, its record lost)"
grep -q '下载完成' "$work/out-full" || fail "the board was not written"
grep -q "(the disk holding $work/disk is full)" "$work/out-full" || fail "the disk is not called full"
"$cli" --settings "$settings" --ledger "$ledger" --report > "$work/out-report" 2>&1
grep -q "(the disk holding $work/disk is full)" "$work/out-report" || fail "--report does not call the disk full"

# The disk fills while a board is written (here in its close wait, once its
# device has taken every image): the board's finish cannot be written. Once
# space is back, the next program on the ledger closes the row as what it
# was (done: its device had answered the end exchange), never "running".
rm -f "$work/disk/fill"
{ "$runner" --quiet -- sh -c 'echo $$ > "$0"; exec "$@"' "$work/pid" "$cli" --settings "$settings" \
    --ledger "$ledger" --rcdb "$rcdb" --json 2> "$work/out-mid"
  echo $? > "$work/code"
} | while IFS= read -r line; do
  case $line in *'"kind":"end-answered"'*)
    kill -STOP "$(cat "$work/pid")"
    dd if=/dev/zero of="$work/disk/fill" bs=4k 2>/dev/null
    kill -CONT "$(cat "$work/pid")" ;;
  esac
done
code=$(cat "$work/code")
[ "$code" -eq 11 ] || fail "exit $code when the disk filled before the finish, expected 11"
grep -q "cannot finish the board: .*(the disk holding $work/disk is full)" "$work/out-mid" ||
  fail "the finish that failed is not said"
rm -f "$work/disk/fill"
"$runner" --quiet -- "$cli" --settings "$settings" --ledger "$ledger" --rcdb "$rcdb" > "$work/out-next" 2>&1 ||
  fail "the board after the full disk was not written"
"$cli" --ledger "$ledger" --export jsonl > "$work/out-export" 2>&1 || fail "--export failed"
[ "$(grep -c '"outcome":"done"' "$work/out-export")" -eq 3 ] || fail "not every board written is done"
! grep -q '"finished_utc":null' "$work/out-export" || fail "a row stays running"
