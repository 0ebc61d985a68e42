// Reading one line of `tamsolt-cli --json` (docs/events.md): the one reader
// of the event lines, for the station supervisor (its children's lines) and
// the station window (the supervisor's). Every line is one envelope: schema,
// kind, time, the device and slot it is about, and the kind's data. Kinds and
// fields this reader does not know are ignored, so a newer writer still
// drives an older reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class EventKind {
  kUnknown,
  kRunStart,      // the rows this run writes
  kDeviceFound,   // a board is in a slot (--watch: not yet taken)
  kDeviceOpened,  // a board's child opened it: it is being written
  kDeviceGone,    // the board left its slot
  kItemStart,     // an item's transfer begins
  kProgress,      // how far the item is
  kMessageBox,    // "message": a box the window would show (a failure's words)
  kDeviceResult,  // a board's outcome, as the supervisor saw its child end
  kOutcome,       // a run's outcome (a child's names its slot)
  kSlotState,     // --watch: a slot changed state
  kTally,         // --watch: the session's tally
  kStopping,      // the CLI takes no new board
  kInterrupting,  // the CLI interrupts the boards being written
  kStationNote,   // --watch: a line about the station as a whole (a stop heard, ...)
  kSlotAlert,     // --watch: a slot asks to be checked (repeated failures), or no longer does
  kRecipe,        // the recipe version the station writes (a switch, or the database away)
  kLog,           // a line of the run's log
  kEndAnswered,   // the device answered the end exchange: the board holds every image
};

// A row of the run (run-start): which file goes as which item, and its pin.
struct EventRow {
  std::string item;
  std::string file;
  std::string sha256;  // the pinned digest; empty when the row is not pinned
};

struct StationEvent {
  EventKind kind = EventKind::kUnknown;
  std::int64_t timeMs = 0;  // milliseconds since the epoch (UTC); 0 when absent
  std::string slot;         // hub port, or BUS:ADDR when none is known
  std::string device;       // BUS:ADDR

  std::string item;                // item-start, progress, item-done
  int percent = 0;                 // progress, 0..100
  std::optional<int> exitCode;     // outcome, device-result
  std::string exitName;            // outcome, device-result
  std::string text;                // a log line; a message box's text; a failed outcome's or slot's reason
  std::string title;               // message: the box's title
  bool failure = false;            // message: the box that tells the run failed
  std::string state;               // slot-state: empty, writing, done, failed, interrupted
  std::optional<bool> present;     // slot-state: a board is in the slot now
  std::optional<bool> taken;       // slot-state: that board is the one written (or being written)
  std::string notTaken;            // slot-state: why the board in it is not taken (came-back, stopping, lot-reached)
  std::string reasonKind;          // slot-state: what the reason is (box, interrupted, killed, not-started, no-recipe, exit)
  std::optional<double> rearmIn;   // slot-state: seconds, from this event's time, until the slot takes a board again
  std::string mode;                // run-start: single, all, watch, list
  std::vector<EventRow> rows;      // run-start, recipe: the enabled rows
  std::string recipe;              // run-start, recipe: the recipe's name ("" for none)
  std::optional<int> recipeVersion;  // run-start, recipe: its version
  std::optional<bool> away;        // recipe: the line database cannot be used (the cache's version)
  int written = 0, failed = 0;     // tally; slot-alert: failed is the slot's failures
  std::optional<int> interrupted;  // tally: boards cut by a stop (not failures)
  std::optional<bool> check;       // slot-alert, slot-state: the slot asks to be checked
  std::string rule;                // slot-alert: last-three-failed, high-rate
  int boards = 0;                  // slot-alert: the slot's boards written or failed
  std::optional<double> rate;      // slot-alert: the slot's failure rate (0 to 1)
  std::optional<double> stationRate;  // slot-alert: the station's
  std::vector<std::string> lastReasons;  // slot-alert: the slot's last failures, oldest first
  std::optional<double> perHour;   // tally
};

// Nothing for a line that is not a JSON object with a kind (a half line of a
// child cut short, a stray message, bytes that are not UTF-8). A field of the
// wrong type, or a number out of its range, is read as absent. Never throws
// for any line.
std::optional<StationEvent> ParseEventLine(const std::string& line);

// Why a run ended as its outcome says it: its reason (the last box's text),
// else the word of its exit code.
std::string OutcomeReason(const StationEvent& outcome);

// "2026-12-08T14:11:37.123Z" as milliseconds since the epoch; 0 when unreadable.
std::int64_t ParseEventTime(const std::string& text);
