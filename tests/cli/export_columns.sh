#!/bin/sh
# export_columns.sh CLI MAKE_LEDGER WORKDIR
# --export csv: every line has the header's columns, a board without images
# (one line, its image columns empty) as well as one with them.
set -u
cli=$1 make_ledger=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAILED: $*" >&2; cat "$work/export" >&2; exit 1; }
for images in 0 2; do
  "$make_ledger" "$work/ledger-$images.sqlite" --boards 3 --images "$images" > /dev/null || fail "cannot make a ledger"
  "$cli" --ledger "$work/ledger-$images.sqlite" --export csv > "$work/export" || fail "--export csv failed"
  [ "$(wc -l < "$work/export")" -gt 3 ] || [ "$images" -eq 0 ] || fail "not a line per image"
  # The fields hold no comma or quote of their own here: columns are counted by commas.
  awk -F, 'NR == 1 { columns = NF } NF != columns { print "line " NR ": " NF " columns, not " columns; bad = 1 }
           END { exit bad }' "$work/export" || fail "a line with other columns than the header's ($images images a board)"
done
