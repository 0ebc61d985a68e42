#include "cli/slot_book.h"

#include <algorithm>
#include <cmath>

std::vector<std::string> SlotBook::Scan(const std::map<std::string, std::string>& boards,
                                        bool taking, Clock::time_point now) {
  for (const auto& [name, device] : boards) slots_[name].device = device;
  std::vector<std::string> start;
  for (auto& [name, slot] : slots_) {
    slot.present = boards.count(name) != 0;
    const bool written = slot.Written();
    if (written && !slot.present) slot.leftSinceWritten = true;
    if (slot.present) {
      slot.emptySince.reset();  // back before it re-armed: the same board, or one to take out
    } else if (written && !slot.emptySince) {
      slot.emptySince = now;
    }
    if (written && slot.emptySince && now - *slot.emptySince >= rearmAfter_) {
      slot.state = SlotState::kEmpty;
      slot.emptySince.reset();
      slot.leftSinceWritten = false;
      slot.since = now;
    }
    if (slot.present && slot.state == SlotState::kEmpty && taking) {
      slot = Slot{SlotState::kWriting, true, slot.device, {}, 0, {}, now, {}, false};
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

void SlotBook::Finished(const std::string& slot, SlotState result, const std::string& reason,
                        Clock::time_point now) {
  Slot& s = slots_[slot];
  s.state = result;
  s.reason = reason;
  s.since = now;
  // A board already gone counts as empty from now.
  s.leftSinceWritten = !s.present;
  if (!s.present) s.emptySince = now;
}

double SlotBook::RearmIn(const std::string& name, Clock::time_point now) const {
  const auto found = slots_.find(name);
  if (found == slots_.end() || !found->second.Written()) return 0;
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
      return slot.present ? "board not taken" : "empty";
    case SlotState::kWriting:
      return slot.item.empty() ? "writing"
                               : "writing " + slot.item + " " + std::to_string(slot.percent) + "%";
    case SlotState::kDone:
    case SlotState::kFailed:
    case SlotState::kInterrupted: {
      std::string text = slot.state == SlotState::kDone     ? "done"
                         : slot.state == SlotState::kFailed ? "failed: " + slot.reason
                                                            : "interrupted: " + slot.reason;
      if (slot.present) return text + ", waiting for removal";
      if (!countdown) return text + ", empty";
      const auto left = std::chrono::duration<double>(rearmAfter_ - (now - *slot.emptySince));
      return text + ", re-arms in " + std::to_string(static_cast<int>(std::ceil(left.count()))) + " s";
    }
  }
  return {};
}
