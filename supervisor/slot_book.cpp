#include "supervisor/slot_book.h"

#include <algorithm>
#include <cmath>
#include <utility>

const char* NotTakenName(NotTaken why) {
  switch (why) {
    case NotTaken::kNone: return "";
    case NotTaken::kCameBack: return "came-back";
    case NotTaken::kStopping: return "stopping";
    case NotTaken::kLotReached: return "lot-reached";
    case NotTaken::kPreviousEnding: return "previous-ending";
  }
  return "";
}

namespace {

// A slot as it is once its board has gone: empty, taking the next board.
Slot EmptySlot(const Slot& before, SlotBook::Clock::time_point now) {
  Slot slot;
  slot.present = before.present;
  slot.device = before.device;
  slot.since = now;
  slot.notTaken = before.present ? before.notTaken : NotTaken::kNone;
  slot.writerRunning = before.writerRunning;
  return slot;
}

}  // namespace

void SlotBook::Observe(const std::map<std::string, std::string>& boards, Clock::time_point now) {
  for (const auto& [name, device] : boards) slots_[name];
  for (auto& [name, slot] : slots_) {
    const auto found = boards.find(name);
    const bool present = found != boards.end();
    const bool heldItsBoard = slot.HoldsItsBoard();
    // Out, or another address in its place between two looks: not the board taken.
    const bool left = !present || (slot.present && found->second != slot.device);
    if (left && (slot.state == SlotState::kWriting || slot.Written()) && !slot.boardLeft) {
      slot.boardLeft = true;
      slot.leftBeforeOutcome = slot.state == SlotState::kWriting;
    }
    // Its own board, seen after its outcome and gone now: taken out by the operator.
    if (left && heldItsBoard && slot.Written()) slot.leftBeforeOutcome = false;
    slot.present = present;
    if (present) slot.device = found->second;
    if (!present) slot.notTaken = NotTaken::kNone;
    if (!slot.Written()) continue;
    if (present) {
      slot.emptySince.reset();
    } else if (!slot.emptySince) {
      slot.emptySince = now;
    }
    if (!slot.boardLeft) continue;  // its board is still in it: waiting for removal
    // Taken out after its outcome: free at once. Gone before it: the board may
    // be restarting, so the slot waits the re-arm time for it, empty.
    const bool rearmed = !slot.leftBeforeOutcome ||
                         (slot.emptySince && now - *slot.emptySince >= rearmAfter_);
    if (rearmed && !slot.writerRunning) {
      slot = EmptySlot(slot, now);
    } else if (present) {
      slot.notTaken = slot.leftBeforeOutcome ? NotTaken::kCameBack : NotTaken::kPreviousEnding;
    }
  }
}

std::vector<std::string> SlotBook::Take(std::size_t allowance, NotTaken whyNot,
                                        Clock::time_point now) {
  std::vector<std::string> start;
  for (auto& [name, slot] : slots_) {
    if (!slot.present || slot.state != SlotState::kEmpty || slot.writerRunning) continue;
    // A board told it is not taken stays so until it is taken out (the
    // allowance may grow again when a taken board turns out to be none).
    const bool told = slot.notTaken == NotTaken::kLotReached || slot.notTaken == NotTaken::kStopping;
    if (told || start.size() >= allowance) {
      slot.notTaken = whyNot;
      continue;
    }
    Begin(name, slot.device, now);
    start.push_back(name);
  }
  return start;
}

void SlotBook::Begin(const std::string& name, std::string device, Clock::time_point now) {
  Slot& slot = slots_[name];
  slot = Slot{};  // device is a copy: it may be this slot's own
  slot.state = SlotState::kWriting;
  slot.present = true;
  slot.device = std::move(device);
  slot.since = now;
  slot.writerRunning = true;
}

void SlotBook::Progress(const std::string& name, const std::string& item, int percent) {
  Slot& slot = slots_[name];
  slot.item = item;
  slot.percent = percent;
  // Not the closing 100 %, which comes after the end exchange whatever the board does then.
  if (percent < 100) Follow(name);
}

void SlotBook::Follow(const std::string& name) {
  Slot& slot = slots_[name];
  if (slot.state == SlotState::kWriting && slot.present) {
    slot.boardLeft = false;
    slot.leftBeforeOutcome = false;
  }
}

void SlotBook::Failing(const std::string& name, const std::string& reason, Clock::time_point now) {
  Slot& slot = slots_[name];
  if (slot.state != SlotState::kWriting) return;
  slot.state = SlotState::kFailed;
  slot.reason = reason;
  slot.since = now;
}

void SlotBook::Finished(const std::string& name, SlotState result, const std::string& reason,
                        Clock::time_point now) {
  Slot& slot = slots_[name];
  slot.writerRunning = false;
  if (slot.state == SlotState::kWriting) {
    slot.state = result;
    slot.reason = reason;
    slot.since = now;
  } else if (slot.state != SlotState::kFailed) {
    return;  // not a board of this slot's (never taken)
  } else if (slot.reason.empty()) {
    slot.reason = reason;
  }
  if (!slot.present && !slot.boardLeft) {
    // Gone before its outcome, between two looks: empty from now, and maybe restarting.
    slot.boardLeft = true;
    slot.leftBeforeOutcome = true;
  }
  if (!slot.present && !slot.emptySince) slot.emptySince = now;
  if (slot.present && slot.boardLeft && slot.leftBeforeOutcome) slot.notTaken = NotTaken::kCameBack;
}

void SlotBook::NoBoard(const std::string& name, Clock::time_point now) {
  Slot& slot = slots_[name];
  slot.writerRunning = false;
  slot = EmptySlot(slot, now);
}

double SlotBook::RearmIn(const std::string& name, Clock::time_point now) const {
  const auto found = slots_.find(name);
  if (found == slots_.end() || !found->second.Written() || !found->second.leftBeforeOutcome) return 0;
  const Slot& slot = found->second;
  const Clock::duration empty = slot.emptySince ? now - *slot.emptySince : Clock::duration{};
  return std::max(0.0, std::chrono::duration<double>(rearmAfter_ - empty).count());
}

std::string SlotBook::Text(const std::string& name, Clock::time_point now, bool countdown) const {
  const auto found = slots_.find(name);
  if (found == slots_.end()) return "empty";
  const Slot& slot = found->second;
  switch (slot.state) {
    case SlotState::kEmpty:
      if (!slot.present) return "empty";
      if (slot.notTaken == NotTaken::kLotReached) return "not taken: the lot is complete; take it out";
      if (slot.notTaken == NotTaken::kStopping) return "not taken: the station is stopping; take it out";
      return "a board in it, not taken yet";
    case SlotState::kWriting:
      return slot.item.empty() ? "writing"
                               : "writing " + slot.item + " " + std::to_string(slot.percent) + "%";
    case SlotState::kDone:
    case SlotState::kFailed:
    case SlotState::kInterrupted: {
      std::string text = slot.state == SlotState::kDone     ? "done"
                         : slot.state == SlotState::kFailed ? "failed: " + slot.reason
                                                            : "interrupted: " + slot.reason;
      if (slot.present && slot.boardLeft && slot.notTaken == NotTaken::kPreviousEnding) {
        return text + "; the board now in it is taken once the writer before it has ended";
      }
      if (slot.present && slot.boardLeft) {
        return text + "; the board now in it came back before that outcome and is not taken: "
                      "re-plug it if it is new";
      }
      if (slot.present) return text + ", waiting for removal";
      if (!countdown || RearmIn(name, now) <= 0) return text + ", empty";
      return text + ", re-arms in " + std::to_string(static_cast<int>(std::ceil(RearmIn(name, now)))) + " s";
    }
  }
  return {};
}
