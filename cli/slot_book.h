// --watch: what each slot of the station holds and whether it takes the next
// board. A slot is a hub port (BUS:ADDR when the kernel names no port).
//
// Each board is written once. A slot whose board was written (done or
// failed) keeps its result while a board is in it ("waiting for removal"),
// and takes a board again only once it has been empty for the re-arm time
// (--rearm-after). So a board that reboots after its end exchange and comes
// back by itself is not written again, and a board plugged in after the slot
// re-armed always is; a board plugged in sooner shows "waiting for removal"
// until it is taken out, never skipped without a word.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// kInterrupted: the board's write was cut by a stop signal (not the board's fault).
enum class SlotState { kEmpty, kWriting, kDone, kFailed, kInterrupted };

struct Slot {
  SlotState state = SlotState::kEmpty;
  bool present = false;     // a board is in the slot now
  std::string device;       // the board's BUS:ADDR when it was seen last
  std::string item;         // writing: the item and its percentage
  int percent = 0;
  std::string reason;       // failed: why, in the message table's words
  std::chrono::steady_clock::time_point since;  // when the state began
  std::optional<std::chrono::steady_clock::time_point> emptySince;  // written and empty
  bool leftSinceWritten = false;  // written, and its board has been out since

  bool Written() const {
    return state == SlotState::kDone || state == SlotState::kFailed ||
           state == SlotState::kInterrupted;
  }
  // The board written (or being written) is still in the slot, never taken out.
  bool HoldsItsBoard() const { return present && (state == SlotState::kWriting || (Written() && !leftSinceWritten)); }
};

class SlotBook {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SlotBook(Clock::duration rearmAfter) : rearmAfter_(rearmAfter) {}

  // One scan: slot name -> the board's BUS:ADDR, for every board on the bus.
  // Returns the slots whose board is to be written now (when taking is true);
  // they are marked writing.
  std::vector<std::string> Scan(const std::map<std::string, std::string>& boards, bool taking,
                                Clock::time_point now);
  void Progress(const std::string& slot, const std::string& item, int percent);
  // result: kDone, kFailed or kInterrupted.
  void Finished(const std::string& slot, SlotState result, const std::string& reason,
                Clock::time_point now);
  // Seconds the slot must still be empty before it takes a board (0: it takes one now).
  double RearmIn(const std::string& slot, Clock::time_point now) const;

  const std::map<std::string, Slot>& Slots() const { return slots_; }
  // What the operator reads for the slot: "empty", "writing RCDB 45%",
  // "done, waiting for removal", "failed: REASON, re-arms in 2 s", ...; without
  // countdown "..., empty" instead of the seconds (a line per change, not per second).
  std::string Text(const std::string& slot, Clock::time_point now, bool countdown) const;

 private:
  Clock::duration rearmAfter_;
  std::map<std::string, Slot> slots_;
};
