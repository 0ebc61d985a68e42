#!/bin/sh
# Stands in for tamsolt-cli in the window's tests: one board writing on 1-1.2,
# a first stop signal says "stopping", a second interrupts the board (exit 10),
# as tamsolt-cli --watch --json does; SIGINT stops it as SIGTERM does. With
# FAKE_CLI_SIGNALS set, each line of that file is what happened: "start", each
# signal as it came ("TERM", "INT") and "end" as it exits. It ends by itself
# soon after the window that ran it is gone. --report prints a ledger report.
# Signals are taken between two naps: two that come within one are heard as one.
if [ "$1" = "--report" ]; then
  echo '{"since":"2026-12-08","boards":5,"done":4,"per_outcome":[{"code":0,"outcome":"done","boards":4}],"per_slot":[{"slot":"1-1.2","boards":5,"done":4}]}'
  exit 0
fi
note() { if [ -n "$FAKE_CLI_SIGNALS" ]; then echo "$1" >>"$FAKE_CLI_SIGNALS"; fi; }
event() { printf '{"schema":1,"kind":"%s","time":"2026-12-08T14:00:00.000Z"%s,"data":%s}\n' "$1" "$2" "$3"; }
stops=0
on_stop() {
  note "$1"
  stops=$((stops + 1))
  if [ $stops -eq 1 ]; then
    event stopping '' "{\"signal\":\"SIG$1\",\"running\":1}"
  else
    event interrupting '' "{\"signal\":\"SIG$1\",\"running\":1}"
    event outcome ',"slot":"1-1.2"' '{"exit_code":10,"exit_name":"interrupted","reason":"interrupted at HOST block 3"}'
    event outcome '' '{"exit_code":10,"exit_name":"interrupted"}'
    note end
    exit 10
  fi
}
trap 'on_stop TERM' TERM
trap 'on_stop INT' INT
note start
event run-start '' '{"rows":[{"item":"BOOT","enabled":true,"file":"/x/boot.bin"}]}'
event item-start ',"slot":"1-1.2"' '{"item":"HOST"}'
event progress ',"slot":"1-1.2"' '{"item":"HOST","percent":30}'
# FAKE_CLI_NAP: seconds between its looks at its signals (a CLI slow to take one).
while kill -0 "$PPID" 2>/dev/null; do sleep "${FAKE_CLI_NAP:-0.1}"; done
note end
