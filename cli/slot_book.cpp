#include "cli/slot_book.h"

#include <algorithm>
#include <cmath>

const char* NotTakenName(NotTaken why) {
  switch (why) {
    case NotTaken::kNone: return "";
    case NotTaken::kCameBack: return "came-back";
    case NotTaken::kStopping: return "stopping";
    case NotTaken::kLotReached: return "lot-reached";
  }
  return "";
}

void SlotBook::Observe(const std::map<std::string, std::string>& boards, Clock::time_point now) {
  for (const auto& [name, device] : boards) slots_[name];
  for (auto& [name, slot] : slots_) {
    const auto found = boards.find(name);
    const bool present = found != boards.end();
    // Out, or back under another address between two looks: not the board taken.
    const bool left = !present || (slot.present && found->second != slot.device);
    // Seen in the slot after its outcome, and out now: taken out by the operator.
    const bool takenOut = slot.Written() && slot.present && !present;
    if (left && (slot.state == SlotState::kWriting || slot.Written()) && !slot.boardLeft) {
      slot.boardLeft = true;
      slot.leftBeforeOutcome = slot.state == SlotState::kWriting;
    }
    if (takenOut) slot.leftBeforeOutcome = false;
    slot.present = present;
    if (present) slot.device = found->second;
    if (!present) slot.notTaken = NotTaken::kNone;
    if (!slot.Written()) continue;
    if (present) {
      slot.emptySince.reset();
      if (slot.boardLeft) slot.notTaken = NotTaken::kCameBack;
      continue;
    }
    if (!slot.emptySince) slot.emptySince = now;
    // Taken out after its outcome: free at once. Gone before it: the board may
    // be restarting, so the slot waits the re-arm time for it.
    if (!slot.leftBeforeOutcome || now - *slot.emptySince >= rearmAfter_) {
      slot = Slot{SlotState::kEmpty, false, slot.device, {}, 0, {}, now, false, false, {}, {}};
    }
  }
}

std::vector<std::string> SlotBook::Take(std::size_t allowance, NotTaken whyNot,
                                        Clock::time_point now) {
  std::vector<std::string> start;
  for (auto& [name, slot] : slots_) {
    if (!slot.present || slot.state != SlotState::kEmpty) continue;
    if (start.size() >= allowance) {
      slot.notTaken = whyNot;
      continue;
    }
    slot = Slot{SlotState::kWriting, true, slot.device, {}, 0, {}, now, false, false, {}, {}};
    start.push_back(name);
  }
  return start;
}

void SlotBook::Progress(const std::string& name, const std::string& item, int percent) {
  Slot& slot = slots_[name];
  slot.item = item;
  slot.percent = percent;
  // The child goes on writing the board that is in the slot now (it follows
  // its port across a restart): that board is the one taken. Not the closing
  // 100 %, which comes after the end exchange whatever the board does then.
  if (slot.state == SlotState::kWriting && slot.present && percent < 100) {
    slot.boardLeft = false;
    slot.leftBeforeOutcome = false;
  }
}

void SlotBook::Finished(const std::string& name, SlotState result, const std::string& reason,
                        Clock::time_point now) {
  Slot& slot = slots_[name];
  slot.state = result;
  slot.reason = reason;
  slot.since = now;
  if (!slot.present) {
    // Gone before its outcome: empty from now, and maybe restarting.
    slot.boardLeft = true;
    slot.leftBeforeOutcome = true;
    slot.emptySince = now;
  } else if (slot.boardLeft) {
    slot.notTaken = NotTaken::kCameBack;
  }
}

void SlotBook::NoBoard(const std::string& name, Clock::time_point now) {
  Slot& slot = slots_[name];
  slot = Slot{SlotState::kEmpty, slot.present, slot.device, {}, 0, {}, now, false, false, {}, {}};
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
      return slot.notTaken == NotTaken::kLotReached ? "not taken: the lot is complete; take it out"
                                                   : "not taken: the station is stopping; take it out";
    case SlotState::kWriting:
      return slot.item.empty() ? "writing"
                               : "writing " + slot.item + " " + std::to_string(slot.percent) + "%";
    case SlotState::kDone:
    case SlotState::kFailed:
    case SlotState::kInterrupted: {
      std::string text = slot.state == SlotState::kDone     ? "done"
                         : slot.state == SlotState::kFailed ? "failed: " + slot.reason
                                                            : "interrupted: " + slot.reason;
      if (slot.present && slot.boardLeft) {
        return text + "; the board now in it came back before that outcome and is not taken: "
                      "re-plug it if it is new";
      }
      if (slot.present) return text + ", waiting for removal";
      if (!countdown) return text + ", empty";
      return text + ", re-arms in " + std::to_string(static_cast<int>(std::ceil(RearmIn(name, now)))) + " s";
    }
  }
  return {};
}
