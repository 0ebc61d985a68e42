// --watch: what each slot of the station holds and whether it takes the next
// board. A slot is a hub port; a device whose port cannot be read is no slot.
//
// Each board is written once, and a board is never shown as written unless
// it is the board the station took. What tells a board that restarts by
// itself from a new one is the moment it left:
// - a board taken out after its outcome came (the operator saw the result)
//   frees its slot at once: the next board put in is written, also when it
//   went in between two looks (the address differs);
// - a board that left before its outcome came (it restarts after its end
//   exchange, or was pulled early) may come back as itself: the slot takes
//   a board again only once it has been empty for the re-arm time
//   (--rearm-after); a board back sooner is not taken ("came-back"), and the
//   operator re-plugs it if it is a new one. A board that came back and is
//   taken out again starts that wait anew.
// A board that leaves and comes back while its child goes on writing (a
// restart inside the exchange, followed by the child on its port) is the
// board written once the child makes progress on it again.
// The outcome comes with the failure box when there is one: the writer still
// closes the link for a while, and the slot takes no board before it ends.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// kInterrupted: the board's write was cut by a stop signal (not the board's fault).
enum class SlotState { kEmpty, kWriting, kDone, kFailed, kInterrupted };

// Why a board in the slot is not taken. kPreviousEnding: the writer of the
// board before is still ending; this one is taken once it has.
enum class NotTaken { kNone, kCameBack, kStopping, kLotReached, kPreviousEnding };

// "came-back", "stopping", "lot-reached", "previous-ending" (empty for kNone): the events' words.
const char* NotTakenName(NotTaken why);

struct Slot {
  SlotState state = SlotState::kEmpty;
  bool present = false;     // a board is in the slot now
  std::string device;       // the board's BUS:ADDR when it was seen last
  std::string item;         // writing: the item and its percentage
  int percent = 0;
  std::string reason;       // failed: why, in the message table's words
  std::chrono::steady_clock::time_point since;  // when the state began
  // The board taken has been out (or re-enumerated) since, and the board in
  // the slot now is not known to be it.
  bool boardLeft = false;
  bool leftBeforeOutcome = false;  // ... and it left before its outcome came
  std::optional<std::chrono::steady_clock::time_point> emptySince;  // written and empty
  NotTaken notTaken = NotTaken::kNone;  // a board present and not taken: why
  bool writerRunning = false;  // the child of the board taken has not ended yet

  bool Written() const {
    return state == SlotState::kDone || state == SlotState::kFailed ||
           state == SlotState::kInterrupted;
  }
  // The board in the slot is the one written or being written.
  bool HoldsItsBoard() const {
    return present && (state == SlotState::kWriting || Written()) && !boardLeft;
  }
};

class SlotBook {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SlotBook(Clock::duration rearmAfter) : rearmAfter_(rearmAfter) {}

  // One look at the bus: slot name -> the board's BUS:ADDR, for every board
  // whose port was read. Updates presence and re-arms slots; takes nothing.
  void Observe(const std::map<std::string, std::string>& boards, Clock::time_point now);
  // The slots whose board is to be written now, at most `allowance` of them
  // in slot order; they are marked writing. The other boards in empty slots
  // are marked not taken with `whyNot`.
  std::vector<std::string> Take(std::size_t allowance, NotTaken whyNot, Clock::time_point now);
  // --all: the board in slot is being written by a child started for it.
  void Begin(const std::string& slot, std::string device, Clock::time_point now);

  // A progress event of the slot's child.
  void Progress(const std::string& slot, const std::string& item, int percent);
  // The slot's child goes on with the board now in the slot (it follows its
  // port across a restart): that board is the one taken.
  void Follow(const std::string& slot);
  // The child's failure box: the board has failed, though its writer still
  // runs; the slot shows it now, and the board taken out from now on was
  // taken out after its outcome.
  void Failing(const std::string& slot, const std::string& reason, Clock::time_point now);
  // The child ended. result: kDone, kFailed or kInterrupted (a failure shown
  // already stays what it was); presence as a look just before it says.
  void Finished(const std::string& slot, SlotState result, const std::string& reason,
                Clock::time_point now);
  // The board left before its device was opened: no board was written, the
  // slot is empty again.
  void NoBoard(const std::string& slot, Clock::time_point now);
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
