#!/bin/sh
# Stands in for tamsolt-cli in the window's tests: one board writing on 1-1.2,
# a first SIGTERM says "stopping", a second interrupts the board (exit 10), as
# tamsolt-cli --watch --json does. --report prints a ledger report.
if [ "$1" = "--report" ]; then
  echo '{"since":"2026-12-08","boards":5,"done":4,"per_outcome":[{"code":0,"outcome":"done","boards":4}],"per_slot":[{"slot":"1-1.2","boards":5,"done":4}]}'
  exit 0
fi
event() { printf '{"schema":1,"kind":"%s","time":"2026-12-08T14:00:00.000Z"%s,"data":%s}\n' "$1" "$2" "$3"; }
stops=0
on_term() {
  stops=$((stops + 1))
  if [ $stops -eq 1 ]; then
    event stopping '' '{"signal":"SIGTERM","running":1}'
  else
    event outcome ',"slot":"1-1.2"' '{"exit_code":10,"exit_name":"interrupted","reason":"interrupted at HOST block 3"}'
    event outcome '' '{"exit_code":10,"exit_name":"interrupted"}'
    exit 10
  fi
}
trap on_term TERM
event run-start '' '{"rows":[{"item":"BOOT","enabled":true,"file":"/x/boot.bin"}]}'
event item-start ',"slot":"1-1.2"' '{"item":"HOST"}'
event progress ',"slot":"1-1.2"' '{"item":"HOST","percent":30}'
while :; do sleep 0.1; done
