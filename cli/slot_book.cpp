#include "cli/slot_book.h"

#include <cmath>

std::vector<std::string> SlotBook::Scan(const std::map<std::string, std::string>& boards,
                                        bool taking, Clock::time_point now) {
  for (const auto& [name, device] : boards) slots_[name].device = device;
  std::vector<std::string> start;
  for (auto& [name, slot] : slots_) {
    slot.present = boards.count(name) != 0;
    const bool written = slot.state == SlotState::kDone || slot.state == SlotState::kFailed;
    if (slot.present) {
      slot.emptySince.reset();  // back before it re-armed: the same board, or one to take out
    } else if (written && !slot.emptySince) {
      slot.emptySince = now;
    }
    if (written && slot.emptySince && now - *slot.emptySince >= rearmAfter_) {
      slot.state = SlotState::kEmpty;
      slot.emptySince.reset();
      slot.since = now;
    }
    if (slot.present && slot.state == SlotState::kEmpty && taking) {
      slot = Slot{SlotState::kWriting, true, slot.device, {}, 0, {}, now, {}};
      start.push_back(name);
    }
  }
  return start;
}

void SlotBook::Progress(const std::string& slot, const std::string& item, int percent) {
  Slot& s = slots_[slot];
  s.item = item;
  s.percent = percent;
}

void SlotBook::Finished(const std::string& slot, bool done, const std::string& reason,
                        Clock::time_point now) {
  Slot& s = slots_[slot];
  s.state = done ? SlotState::kDone : SlotState::kFailed;
  s.reason = reason;
  s.since = now;
  // A board already gone counts as empty from now.
  if (!s.present) s.emptySince = now;
}

std::string SlotBook::Text(const std::string& name, Clock::time_point now, bool countdown) const {
  const auto found = slots_.find(name);
  if (found == slots_.end()) return "empty";
  const Slot& slot = found->second;
  switch (slot.state) {
    case SlotState::kEmpty:
      return slot.present ? "board not taken" : "empty";
    case SlotState::kWriting:
      return slot.item.empty() ? "writing"
                               : "writing " + slot.item + " " + std::to_string(slot.percent) + "%";
    case SlotState::kDone:
    case SlotState::kFailed: {
      std::string text = slot.state == SlotState::kDone ? "done" : "failed: " + slot.reason;
      if (slot.present) return text + ", waiting for removal";
      if (!countdown) return text + ", empty";
      const auto left = std::chrono::duration<double>(rearmAfter_ - (now - *slot.emptySince));
      return text + ", re-arms in " + std::to_string(static_cast<int>(std::ceil(left.count()))) + " s";
    }
  }
  return {};
}
