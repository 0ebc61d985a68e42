#!/bin/sh
# damaged_ledger.sh CLI MAKE_LEDGER WORKDIR
# A station's ledger with a page in the middle of its boards spoiled: the
# readers say it is damaged (exit 2) rather than give short figures as
# whole; the owner's --ledger-sync keeps it aside as it is and starts a new
# ledger with every board that can still be read, which reads whole again.
set -u
cli=$1 make_ledger=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
ledger=$work/ledger.sqlite
fail() { echo "FAILED: $*" >&2; cat "$work"/err* >&2; exit 1; }
"$make_ledger" "$ledger" --boards 2000 > /dev/null || fail "cannot make the ledger"
sqlite3 "$ledger" "PRAGMA wal_checkpoint(TRUNCATE)" > /dev/null
page=$(sqlite3 "$ledger" "SELECT pageno FROM dbstat WHERE name = 'boards' AND pagetype = 'leaf' ORDER BY pageno LIMIT 1 OFFSET 5")
lost=$(sqlite3 "$ledger" "SELECT ncell FROM dbstat WHERE pageno = $page")
size=$(sqlite3 "$ledger" "PRAGMA page_size")
[ -n "$page" ] && [ "$lost" -gt 0 ] || fail "no page of boards to spoil"
head -c $((size - 8)) /dev/zero | tr '\0' 'Z' |
  dd of="$ledger" bs=1 seek=$(((page - 1) * size + 8)) conv=notrunc 2> /dev/null
before=$(sha256sum < "$ledger")

"$cli" --ledger "$ledger" --report > "$work/out-report" 2> "$work/err-report"
code=$?
[ "$code" -eq 2 ] || fail "--report exit $code on a damaged ledger, expected 2"
grep -q "is damaged (.*): what is read from it may be short; tamsolt-cli --ledger-sync" "$work/err-report" ||
  fail "--report does not say the ledger is damaged"
"$cli" --ledger "$ledger" --export jsonl > "$work/out-export" 2> "$work/err-export"
code=$?
[ "$code" -eq 2 ] || fail "--export exit $code on a damaged ledger, expected 2"
grep -q "is damaged" "$work/err-export" || fail "--export does not say the ledger is damaged"
[ "$(sha256sum < "$ledger")" = "$before" ] || fail "a reader changed the damaged file"

# The owner's sync: the line database is away (nothing listens there), the ledger is set aside all the same.
"$cli" --ledger "$ledger" --ledger-sync --ledger-url "postgresql://127.0.0.1:1/line" > "$work/out-sync" 2> "$work/err-sync"
grep -q "is damaged .*kept as it is as $ledger.damaged-.*holds the $((2000 - lost)) board(s)" "$work/err-sync" ||
  fail "--ledger-sync does not say what it kept"
kept=$(ls "$ledger".damaged-* | grep -v -- '-wal$\|-shm$' | head -n 1)
[ "$(sha256sum < "$kept")" = "$before" ] || fail "the damaged file was not kept as it was"
"$cli" --ledger "$ledger" --export jsonl > "$work/out-export-new" 2> "$work/err-export-new" ||
  fail "--export of the new ledger failed"
[ "$(wc -l < "$work/out-export-new")" -eq $((2000 - lost)) ] || fail "the new ledger lacks boards that could be read"
