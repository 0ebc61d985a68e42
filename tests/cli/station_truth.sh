#!/bin/sh
# station_truth.sh CASE RUNNER CLI SETTINGS RCDB BIG_RCDB WORKDIR [MODE]
# A station under an operator's timing, through the real program on emulated
# boards. The test acts on the station's own events (it unplugs and plugs
# boards through the emulator's control FIFO, holds or kills processes) and
# never on a clock, so the order of what happens is fixed whatever the load.
# Every case also checks the station's first promise: a slot is shown done
# with its board taken only for a device whose writer ended done before.
set -u
case=$1 runner=$2 cli=$3 settings=$4 rcdb=$5 big_rcdb=$6 work=$7
mode=${8:-}
rm -rf "$work"
mkdir -p "$work"
mkfifo "$work/control"
events=$work/events
fail() { echo "FAILED ($case): $*" >&2; tail -n 40 "$events" "$work/err" >&2; exit 1; }
say() { echo "$1" > "$work/control"; }
cli_pid() { cat "$work/pid"; }
# Holds the station's (first) writer, as a process that does not stop when told; its pid in $work/held.
hold_writer() {
  writer=$(pgrep -P "$(cli_pid)" | head -n 1)
  echo "$writer" > "$work/held"
  kill -STOP "$writer"
}

# run RUNNER-OPTIONS... -- CLI-OPTIONS...: the station's events go through
# act() line by line, and into $events.
run() {
  runner_options=""
  while [ "$1" != "--" ]; do runner_options="$runner_options $1"; shift; done
  shift
  # shellcheck disable=SC2086
  { "$runner" --quiet --control="$work/control" $runner_options -- sh -c 'echo $$ > "$0"; exec "$@"' \
      "$work/pid" "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --json "$@" \
      2> "$work/err"
    echo $? > "$work/code"
  } | tee "$events" | while IFS= read -r line; do act "$line"; done
  code=$(cat "$work/code")
}

# Lines of kind (and more patterns) in the events.
count() { grep -c "\"kind\":\"$1\"$2" "$events"; }

# No slot is shown done with its board taken unless that board's writer ended
# done, or its device answered the end exchange (it holds every image).
check_truth() {
  awk '
    (/"kind":"outcome"/ && /"device":/ && /"exit_code":(0|11)[,}]/) || /"kind":"end-answered"/ {
      match($0, /"device":"[0-9:]+"/); done[substr($0, RSTART + 10, RLENGTH - 11)] = 1
    }
    /"kind":"slot-state"/ && /"state":"done"/ && /"taken":true/ {
      match($0, /"data":.*"device":"[0-9:]+"/); d = substr($0, RSTART, RLENGTH)
      sub(/.*"device":"/, "", d); sub(/"$/, "", d)
      if (!(d in done)) { print "shown done, never written: " $0; bad = 1 }
    }
    /"slot":"[0-9]+:[0-9]+"/ { print "a slot named by its address: " $0; bad = 1 }
    END { exit bad }' "$events" || fail "the station showed what was not so"
}

case $case in
fast_swap)
  # Board 1 shown done, taken out, the next one in 0.8 s later: written.
  act() {
    case $1 in *'"kind":"slot-state"'*'"state":"done"'*'"taken":true'*)
      [ -e "$work/swapped" ] && return
      touch "$work/swapped"
      say "unplug 1-1.3"
      sleep 0.8  # the operator's hand
      say "plug 1-1.3" ;;
    esac
  }
  run --plug=1-1.3:0 --plug=1-1.3:cmd -- --watch --max-boards 2 --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 2, failed 0' "$events" || fail "the second board was not written" ;;

reboot)
  # The board restarts as its exchange ends and is back 1.2 s later: written once.
  act() {
    case $1 in *'"not_taken":"came-back"'*)
      [ -e "$work/stopped" ] || { touch "$work/stopped"; kill -TERM "$(cli_pid)"; } ;;
    esac
  }
  run --plug=1-1.3:0 --fault-on=1:--reboot-after-end-ms=1200 -- --watch --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 1, failed 0' "$events" || fail "not written exactly once"
  [ "$(count outcome '.*"device"')" -eq 1 ] || fail "more than one writer" ;;

held_swap)
  # Board 1 leaves at its end exchange; board 2 goes in while board 1's
  # writer is held (as by a slow ledger commit): board 2 is not taken, and
  # the slot says it must be re-plugged.
  act() {
    case $1 in
    *'"kind":"device-gone"'*'"slot":"1-1.3"'*)
      [ -e "$work/held" ] && return
      hold_writer
      say "unplug 1-1.3"  # board 1 stays away: whatever comes now is another board
      say "plug 1-1.3" ;;
    *'"kind":"device-found"'*'"slot":"1-1.3"'*)
      [ -s "$work/held" ] && [ ! -e "$work/let-go" ] && { touch "$work/let-go"; kill -CONT "$(cat "$work/held")"; } ;;
    *'"not_taken":"came-back"'*)
      [ -e "$work/stopped" ] || { touch "$work/stopped"; kill -TERM "$(cli_pid)"; } ;;
    esac
  }
  run --plug=1-1.3:0 --fault-on=1:--reboot-after-end-ms=600000 --plug=1-1.3:cmd -- --watch --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 1, failed 0' "$events" || fail "not exactly board 1 written"
  grep -q 'came back before that outcome and is not taken: re-plug it' "$events" || fail "no word to re-plug" ;;

sysfs_lag)
  # Six ports, two boards each, every board taken out as soon as it is shown
  # done and the next one plugged in; each board's port leaves sysfs 0.6 s
  # before its node and comes 0.6 s after it.
  act() {
    case $1 in *'"kind":"slot-state"'*'"state":"done"'*'"taken":true'*)
      slot=$(printf '%s\n' "$1" | sed -n 's/.*"slot":"\([^"]*\)".*/\1/p')
      [ -e "$work/out-$slot" ] && return
      touch "$work/out-$slot"
      say "unplug $slot"
      say "plug $slot" ;;
    esac
  }
  plugs=""
  for k in 1 2 3 4 5 6; do plugs="$plugs --plug=1-1.$k:0 --plug=1-1.$k:cmd"; done
  # shellcheck disable=SC2086
  run $plugs --sysfs-lag-ms=600 -- --watch --max-boards 12 --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 12, failed 0' "$events" || fail "not twelve boards written" ;;

all_into_a_finished_port)
  # --all: board 1 done and taken out, a new board into its port while board
  # 2 is still being written (it restarts at its begin, and its writer waits
  # 12 s for it): the new board is named, not left unseen.
  act() {
    case $1 in *'"kind":"device-result"'*'"slot":"1-1.1"'*)
      say "unplug 1-1.1"
      say "plug 1-1.1" ;;
    esac
  }
  run --devices=2 --fault-on=2:--begin-status=3 --fault-on=2:--restart-ms=300 --plug=1-1.1:cmd \
    -- --all --rcdb "$rcdb"
  [ "$code" -eq 1 ] || fail "exit $code, expected 1"
  [ "$(count device-late '.*"slot":"1-1.1"')" -eq 1 ] || fail "the new board was not named"
  [ "$(count device-result '.*"exit_code":0')" -eq 2 ] || fail "the two boards were not both written" ;;

parent_killed)
  # The station killed outright mid-board: its writer stops at a frame
  # boundary, releases the board and closes its ledger row.
  act() {
    case $1 in *'"kind":"progress"'*'"percent":'[1-9]*)
      [ -e "$work/killed" ] || { touch "$work/killed"; kill -KILL "$(cli_pid)"; } ;;
    esac
  }
  run --latency-ms=10 --report="$work/report" -- --watch --rcdb "$big_rcdb"
  [ "$code" -eq 137 ] || fail "exit $code, expected 137"
  grep -q 'rejected 0' "$work/report" || fail "a frame was cut: $(cat "$work/report")"
  grep -q 'interface released' "$work/report" || fail "the board was not released: $(cat "$work/report")"
  "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --export jsonl > "$work/rows"
  grep -q '"outcome_code":10' "$work/rows" || fail "the ledger row is not closed as interrupted: $(cat "$work/rows")"
  grep -q '"message":"Interrupted by SIGTERM at RCDB block [0-9]* of [0-9]*"' "$work/rows" ||
    fail "the ledger row does not say where the board was cut: $(cat "$work/rows")" ;;

upgraded_under_it)
  # The program file replaced while the station runs (a package upgrade):
  # the next board is still written, by the program that runs.
  cp "$cli" "$work/tamsolt-cli"
  cli=$work/tamsolt-cli
  act() {
    case $1 in *'"kind":"station"'*'watching for boards'*)
      rm "$work/tamsolt-cli"
      say "plug 1-1.3" ;;
    esac
  }
  run --plug=1-1.3:cmd -- --watch --max-boards 1 --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 1, failed 0' "$events" || fail "the board was not written" ;;

gone_before_open)
  # A board pulled while its writer still waits for permission on its node:
  # no board, no failure, no count, and its place in the lot given back (with
  # --max-boards 1 the next board on the port is written).
  act() {
    case $1 in
    *'Waiting for permission'*)
      [ -e "$work/pulled" ] || { touch "$work/pulled"; say "unplug 1-1.3"; } ;;
    *'"kind":"slot-state"'*'"state":"empty","present":false'*)
      [ -e "$work/pulled" ] && [ ! -e "$work/plugged" ] && { touch "$work/plugged"; say "plug 1-1.3"; } ;;
    esac
  }
  run --plug=1-1.3:0 --plug=1-1.3:cmd --unwritable-for-ms=1200 -- --watch --max-boards 1 --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  grep -q 'stopped; written 1, failed 0' "$events" || fail "the board pulled was counted, or its place not given back" ;;

slot_alert)
  # Three boards fail in 1-1.1 one after another (each taken out once shown
  # failed): the slot asks to be checked, on its line and in an event with
  # the evidence; a fourth board written there clears it.
  act() {
    case $1 in
    *'"kind":"slot-state"'*'"slot":"1-1.1"'*'"state":"failed"'*'"present":true'*)
      board=$(printf '%s\n' "$1" | sed -n 's/.*"present":true,"device":"\([0-9:]*\)".*/\1/p')
      [ -e "$work/failed-$board" ] && return
      touch "$work/failed-$board"
      say "unplug 1-1.1" ;;
    *'"kind":"device-gone"'*'"slot":"1-1.1"'*)
      say "plug 1-1.1" ;;
    *'"kind":"slot-alert"'*'"check":false'*)
      [ -e "$work/stopped" ] || { touch "$work/stopped"; kill -TERM "$(cli_pid)"; } ;;
    esac
  }
  run --plug=1-1.1:0 --plug=1-1.1:cmd --plug=1-1.1:cmd --plug=1-1.1:cmd \
    --fault-on=1:--claim-fails --fault-on=2:--claim-fails --fault-on=3:--claim-fails \
    -- --watch --rcdb "$rcdb"
  [ "$code" -eq 1 ] || fail "exit $code, expected 1"
  grep -q 'stopped; written 1, failed 3' "$events" || fail "not three failed and one written"
  grep -q '"kind":"slot-alert".*"check":true.*"failed":3' "$events" || fail "no alert with its evidence"
  grep -q '\[check this slot\]' "$events" || fail "the slot's line does not ask to be checked" ;;

failed_at_the_box)
  # A failure is shown as its box comes, not once its writer has ended (it
  # still closes the link): an operator pulling the board on the box pulls a
  # failed board.
  act() { :; }
  run --plug=1-1.3:0 --silent=3:100000 -- --watch --max-boards 1 --rcdb "$rcdb"
  [ "$code" -eq 1 ] || fail "exit $code, expected 1"
  failed_at=$(grep -n '"kind":"slot-state".*"state":"failed"' "$events" | head -n 1 | cut -d: -f1)
  ended_at=$(grep -n '"kind":"outcome".*"device"' "$events" | head -n 1 | cut -d: -f1)
  [ "$failed_at" -lt "$ended_at" ] || fail "the failure was shown only once its writer ended" ;;

end_then_stop)
  # A stop signal once the device has answered the end exchange, in the close
  # wait before the completion box: the board holds every image and is
  # recorded written (a single run, --all with one SIGINT, --watch with two,
  # and the station killed outright, whose writers get SIGTERM from it).
  act() {
    case $1 in *'"kind":"end-answered"'*)
      ended=$(count end-answered "")
      case $mode in
      single) kill -TERM "$(cli_pid)" ;;
      # Once: a second signal would kill the children.
      all) [ "$ended" -eq 2 ] && [ ! -e "$work/stopped" ] && { touch "$work/stopped"; kill -INT "$(cli_pid)"; } ;;
      # Both writers held in their close wait: the second signal kills them.
      all_killed) [ "$ended" -eq 2 ] && [ ! -e "$work/stopped" ] && {
          touch "$work/stopped"
          for writer in $(pgrep -P "$(cli_pid)"); do kill -STOP "$writer"; done
          kill -INT "$(cli_pid)"; } ;;
      watch) kill -TERM "$(cli_pid)"; kill -TERM "$(cli_pid)" ;;
      killed) kill -KILL "$(cli_pid)" ;;
      esac ;;
    *'"kind":"stopping"'*) [ "$mode" = all_killed ] && kill -INT "$(cli_pid)" ;;
    esac
  }
  case $mode in
  single) run --report="$work/report" -- --rcdb "$rcdb"; boards=1 expect=0 ;;
  all|all_killed) run --devices=2 --report="$work/report" -- --all --rcdb "$rcdb"; boards=2 expect=0 ;;
  watch) run --plug=1-1.3:0 --report="$work/report" -- --watch --rcdb "$rcdb"; boards=1 expect=0 ;;
  killed) run --plug=1-1.3:0 --report="$work/report" -- --watch --rcdb "$rcdb"; boards=1 expect=137 ;;
  esac
  [ "$code" -eq "$expect" ] || fail "exit $code, expected $expect"
  [ "$(grep -c ' ended 1$' "$work/report")" -eq "$boards" ] || fail "not every end exchange answered: $(cat "$work/report")"
  "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --export jsonl > "$work/rows"
  [ "$(grep -c '"outcome_code":0[,}]' "$work/rows")" -eq "$boards" ] || fail "a written board not recorded done: $(cat "$work/rows")"
  [ "$mode" = watch ] && { grep -q 'stopped; written 1, failed 0' "$events" || fail "the tally is not one written"; }
  [ "$(count outcome '.*"exit_code":10')" -eq 0 ] || fail "an outcome says interrupted"
  # The stop came inside the close wait, which it cut short (the wait lasts
  # 2 s from end-answered, against the few milliseconds the test takes to act).
  [ "$mode" != single ] || grep -q 'came after the device had taken every image: the board is written' "$events" ||
    fail "the stop did not cut the close wait" ;;

all_reboot_after_end)
  # --all: board 1 reboots as its end exchange is answered, board 2 restarts
  # at its begin: both are written, and the rebooted one is not a late board.
  act() { :; }
  run --devices=2 --fault-on=1:--reboot-after-end-ms=1200 --fault-on=2:--begin-status=3 \
    --fault-on=2:--restart-ms=300 -- --all --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  [ "$(count device-late "")" -eq 0 ] || fail "a board written was named late"
  [ "$(count device-result '.*"exit_code":0')" -eq 2 ] || fail "the two boards were not both written" ;;

all_plugged_at_the_end)
  # --all: two more boards plugged as the first one ends, one whose port sysfs
  # does not give yet: both named late, not left unseen (the second by the
  # run's closing look, once its port can no longer come in time).
  act() {
    case $1 in *'"kind":"end-answered"'*) say "plug 1-1.2"; say "plug 1-1.4" ;; esac
  }
  run --devices=1 --plug=1-1.2:cmd --plug=1-1.4:cmd --fault-on=3:--sysfs-lag-ms=600000 -- --all --rcdb "$rcdb"
  [ "$code" -eq 1 ] || fail "exit $code, expected 1"
  [ "$(count device-late "")" -eq 2 ] || fail "a board plugged was not named" ;;

watch_portless)
  # A board libusb lists whose hub port sysfs never gives, beside one that is
  # written: the station says once why it does not take the first.
  act() {
    case $1 in *'"kind":"slot-state"'*'"state":"done"'*) kill -TERM "$(cli_pid)" ;; esac
  }
  run --plug=1-1.3:0 --plug=1-1.4:0 --fault-on=1:--sysfs-lag-ms=600000 -- --watch --rcdb "$rcdb"
  [ "$code" -eq 0 ] || fail "exit $code"
  [ "$(count station '.*001:002 is on the bus but /sys/bus/usb/devices gives it no hub port')" -eq 1 ] ||
    fail "the board without a port not named once"
  grep -q 'stopped; written 1, failed 0' "$events" || fail "not the one board written" ;;

killed_by_the_station|killed_after_end)
  # A writer that does not stop when told (held here by the test, once it is
  # waiting for permission on its node, or in its close wait: the two places
  # where it is between two requests to the device), and a third stop signal:
  # the station kills it. Before the end exchange the board is interrupted,
  # not failed (no slot alert, the station's exit 10); after it, the board is
  # written and its ledger row closed done.
  case $case in
  killed_by_the_station) hold_on='Waiting for permission' faults=--unwritable-for-ms=600000 ;;
  killed_after_end) hold_on='"kind":"end-answered"' faults="--report=$work/report" ;;
  esac
  act() {
    case $1 in
    *"$hold_on"*)
      [ -e "$work/held" ] && return
      hold_writer
      kill -TERM "$(cli_pid)" ;;
    *'"kind":"stopping"'*) kill -TERM "$(cli_pid)" ;;
    *'"kind":"interrupting"'*) kill -TERM "$(cli_pid)" ;;
    esac
  }
  run --plug=1-1.3:0 "$faults" -- --watch --rcdb "$rcdb"
  [ "$(count slot-alert "")" -eq 0 ] || fail "a slot alert for a board the station killed"
  "$cli" --settings "$settings" --ledger "$work/ledger.sqlite" --export jsonl > "$work/rows"
  if [ "$case" = killed_by_the_station ]; then
    [ "$code" -eq 10 ] || fail "exit $code, expected 10"
    grep -q '"kind":"slot-state".*"state":"interrupted".*"reason_kind":"killed"' "$events" || fail "the slot does not say killed"
    grep -q 'stopped; written 0, failed 0, interrupted 1' "$events" || fail "the tally is not one interrupted"
  else
    [ "$code" -eq 0 ] || fail "exit $code, expected 0"
    grep -q ' ended 1$' "$work/report" || fail "the end exchange was not answered: $(cat "$work/report")"
    grep -q 'stopped; written 1, failed 0' "$events" || fail "the tally is not one written"
    grep -q '"outcome_code":0[,}]' "$work/rows" || fail "the written board's row is not closed done: $(cat "$work/rows")"
  fi ;;

*) fail "no such case" ;;
esac
check_truth
