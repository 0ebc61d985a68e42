#include "station/slot_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kInterruptedCode = 10;
// The device was done but the log file or the ledger lost lines: the board is good.
constexpr int kDoneLinesLostCode = 11;
// A wait longer than this is a CLI's mistake, not a reason to overflow.
constexpr double kLongestRearmSeconds = 24 * 3600;

bool Final(SlotState state) {
  return state == SlotState::kDone || state == SlotState::kFailed ||
         state == SlotState::kInterrupted || state == SlotState::kNotTaken;
}

// "1-1.3.2" -> {1, 1, 3, 2}; nothing for BUS:ADDR or anything else.
std::optional<std::vector<long>> PortNumbers(const std::string& port) {
  std::vector<long> numbers;
  const char* p = port.c_str();
  while (*p != '\0') {
    char* end = nullptr;
    const long n = std::strtol(p, &end, 10);
    if (end == p) return std::nullopt;
    numbers.push_back(n);
    p = end;
    if (*p == '-' || *p == '.') {
      ++p;
    } else if (*p != '\0') {
      return std::nullopt;
    }
  }
  if (numbers.size() < 2) return std::nullopt;
  return numbers;
}

// The board has gone: the slot keeps only its identity, and whether it asks
// to be checked (that is the slot's, not the board's).
void Clear(Slot& slot) {
  Slot empty;
  empty.port = std::move(slot.port);
  empty.name = std::move(slot.name);
  empty.check = slot.check;
  empty.checkEvidence = std::move(slot.checkEvidence);
  slot = std::move(empty);
}

// The written board left before its result: the slot keeps which board it was
// and its result (a board coming back as itself is not counted again), and
// says how long it waits.
void Rearm(Slot& slot, std::int64_t timeMs, double seconds) {
  slot.state = SlotState::kRearming;
  slot.rearmAtMs = timeMs + std::llround(std::min(seconds, kLongestRearmSeconds) * 1000);
}

}  // namespace

bool PortBefore(const std::string& a, const std::string& b) {
  const auto na = PortNumbers(a);
  const auto nb = PortNumbers(b);
  if (na && nb) return *na != *nb ? *na < *nb : a < b;
  if (na || nb) return na.has_value();
  return a < b;
}

void StationModel::NameSlots(const std::map<std::string, std::string>& names) {
  names_ = names;
  for (const auto& [port, name] : names) At(port);
}

Slot& StationModel::At(const std::string& port) {
  Slot& slot = slots_[port];
  slot.port = port;
  if (const auto it = names_.find(port); it != names_.end()) slot.name = it->second;
  return slot;
}

void StationModel::StartWriting(Slot& slot, const StationEvent& event) {
  if (slot.state == SlotState::kWriting) return;
  // The CLI may still show a board writing after its child's outcome came:
  // the same board, still finished.
  if (Final(slot.state) && !event.device.empty() && event.device == slot.device) return;
  const std::int64_t timeMs = event.timeMs;
  slot.device = event.device;
  slot.state = SlotState::kWriting;
  slot.item.clear();
  slot.percent = 0;
  slot.reason.clear();
  slot.reasonKind.clear();
  slot.exitCode.reset();
  slot.lastBox.clear();
  slot.startedMs = timeMs;
  slot.endedMs = 0;
  slot.counted = false;
  slot.alert = false;
}

void StationModel::Count(Slot& slot) {
  if (slot.counted) return;
  if (slot.state == SlotState::kDone) {
    slot.counted = true;
    ++counted_.written;
    slot.check = false;  // a board written here: the slot works
  } else if (slot.state == SlotState::kFailed) {
    slot.counted = true;
    slot.alert = true;
    ++counted_.failed;
  }
}

// A board's end, from its child's outcome or the supervisor's result: whichever
// comes first decides; a later one only adds a reason the first lacked.
void StationModel::Finish(Slot& slot, const StationEvent& event) {
  if (!event.exitCode) return;
  // A late word about the board before, after a new one came into the slot.
  if (!event.device.empty() && !slot.device.empty() && event.device != slot.device) return;
  const int code = *event.exitCode;
  if (slot.state != SlotState::kWriting && Final(slot.state)) {
    if (slot.reason.empty() && slot.state == SlotState::kFailed) slot.reason = event.text;
    return;
  }
  if (slot.startedMs == 0) slot.startedMs = event.timeMs;
  slot.endedMs = event.timeMs;
  if (code == 0 || code == kDoneLinesLostCode) {
    slot.state = SlotState::kDone;
    slot.reason.clear();
  } else {
    slot.state = code == kInterruptedCode ? SlotState::kInterrupted : SlotState::kFailed;
    // The outcome's reason, else the last box's words; the exit code's name
    // only when no box came.
    if (!event.text.empty()) slot.reason = event.text;
    if (slot.reason.empty()) slot.reason = slot.lastBox;
    if (slot.reason.empty()) slot.reason = event.exitName;
  }
  Count(slot);
}

// --watch's own view of a slot. A written slot keeps its result while its
// board is in it; once the board is out the tile is empty, and a board the
// CLI does not take (it came back before the slot re-armed, the station stops
// or the lot is complete) must come out again.
void StationModel::SetState(Slot& slot, const StationEvent& event) {
  // A window started mid-session learns of an alert from the slot's state too.
  if (event.check.value_or(false)) slot.check = true;
  const std::string& s = event.state;
  const bool present = event.present.value_or(true);
  // A reason not to take it outweighs a taken that says otherwise: never a
  // green tile for a board that was not written.
  const bool taken = event.taken.value_or(true) && event.notTaken.empty();
  if (s == "writing") {
    StartWriting(slot, event);
    if (!event.item.empty()) slot.item = event.item;
    if (event.percent > 0) slot.percent = std::clamp(event.percent, 0, 100);
    return;
  }
  const bool written = s == "done" || s == "failed" || s == "interrupted";
  // Gone before its result came: the board's result still counts, and the slot
  // is never shown free while it would not take a board.
  const bool rearming = !present && written && event.rearmIn.value_or(0) > 0;
  // Whatever the state's word, a board out is out, and one in that was not
  // taken is not the board whose result the slot showed.
  if (!rearming && (!present || !taken)) {
    Clear(slot);
    if (present) {
      // A board waiting for the writer before it to end is taken then: not one to take out.
      const bool waits = event.notTaken == "previous-ending";
      slot.state = waits ? SlotState::kRearming : SlotState::kNotTaken;
      slot.notTaken = event.notTaken;
    }
    return;
  }
  if (s != "empty" && !written) return;  // a state this window does not know
  if (s == "empty") {
    Clear(slot);
    return;
  }
  if (slot.state == SlotState::kWriting) slot.endedMs = event.timeMs;
  slot.state = s == "done" ? SlotState::kDone
               : s == "failed" ? SlotState::kFailed : SlotState::kInterrupted;
  // The first reason stays: a later state of the same board only repeats it.
  const bool hasReason = !slot.reason.empty() || !slot.reasonKind.empty();
  if (slot.state != SlotState::kDone && !hasReason) {
    slot.reason = event.text;
    slot.reasonKind = event.reasonKind;
    slot.exitCode = event.exitCode;
  }
  if (!event.item.empty()) slot.item = event.item;
  Count(slot);
  if (rearming) Rearm(slot, event.timeMs, *event.rearmIn);
}

// A child's word about its board. Without a supervisor it is the board's own
// account; with one, a child's slot may be a BUS:ADDR of a board already gone,
// so it only refreshes a slot the supervisor shows writing that board.
Slot* StationModel::ChildsSlot(const StationEvent& event, bool startsWriting) {
  if (event.slot.empty()) return nullptr;
  if (!supervised_) {
    Slot& slot = At(event.slot);
    if (startsWriting) StartWriting(slot, event);
    return &slot;
  }
  const auto it = slots_.find(event.slot);
  if (it == slots_.end() || it->second.state != SlotState::kWriting) return nullptr;
  Slot& slot = it->second;
  if (!event.device.empty() && !slot.device.empty() && event.device != slot.device) return nullptr;
  return &slot;
}

void StationModel::Apply(const StationEvent& event) {
  const bool aboutSlot = !event.slot.empty();
  if (event.kind == EventKind::kSlotState || event.kind == EventKind::kTally) supervised_ = true;
  switch (event.kind) {
    case EventKind::kRunStart:
      // Children open their own runs; the rows and session are the supervisor's.
      if (aboutSlot) return;
      // A new run is a new session: its tally starts again.
      supervised_ = event.mode == "watch";
      rows_ = event.rows;
      recipe_ = event.recipe;
      recipeVersion_ = event.recipeVersion;
      recipeAway_ = false;
      sessionStartMs_ = event.timeMs;
      counted_ = {};
      reported_.reset();
      stopping_ = false;
      interrupting_ = false;
      ended_ = false;
      exitCode_.reset();
      exitName_.clear();
      exitReason_.clear();
      return;
    case EventKind::kRecipe:
      // The version the next boards get; a board being written keeps its own.
      if (aboutSlot) return;
      rows_ = event.rows;
      recipe_ = event.recipe;
      recipeVersion_ = event.recipeVersion;
      recipeAway_ = event.away.value_or(false);
      return;
    case EventKind::kDeviceFound:
      // A board in a slot is not yet a board being written (--watch may not take it).
      if (aboutSlot) At(event.slot);
      return;
    case EventKind::kDeviceOpened:
      ChildsSlot(event, /*startsWriting=*/true);
      return;
    case EventKind::kDeviceGone:
      if (!aboutSlot) return;
      // The supervisor's slot-state that follows says what the slot is now.
      if (supervised_) {
        At(event.slot);
        return;
      }
      // A board that restarts during its write comes back: only a finished one is removed.
      if (Final(At(event.slot).state)) Clear(At(event.slot));
      return;
    case EventKind::kItemStart:
      if (Slot* slot = ChildsSlot(event, /*startsWriting=*/true); slot && slot->state == SlotState::kWriting) {
        slot->item = event.item;
        slot->percent = 0;
      }
      return;
    case EventKind::kProgress:
      if (Slot* slot = ChildsSlot(event, /*startsWriting=*/false); slot && slot->state == SlotState::kWriting) {
        if (!event.item.empty()) slot->item = event.item;
        slot->percent = std::clamp(event.percent, 0, 100);
      }
      return;
    case EventKind::kMessageBox:
      if (event.text.empty()) return;
      if (Slot* slot = ChildsSlot(event, /*startsWriting=*/false)) slot->lastBox = event.text;
      return;
    case EventKind::kOutcome:
      if (!aboutSlot) {
        ended_ = true;
        exitCode_ = event.exitCode;
        exitName_ = event.exitName;
        exitReason_ = event.text;
        return;
      }
      // A child's end is the supervisor's to show (it may be a board that was never one).
      if (!supervised_) Finish(At(event.slot), event);
      return;
    case EventKind::kDeviceResult:
      if (aboutSlot && !supervised_) Finish(At(event.slot), event);
      return;
    case EventKind::kSlotState:
      if (aboutSlot) SetState(At(event.slot), event);
      return;
    case EventKind::kTally:
      reported_ = Tally{event.written, event.failed, event.interrupted, event.perHour};
      return;
    case EventKind::kStopping:
      stopping_ = true;
      return;
    case EventKind::kInterrupting:
      stopping_ = true;
      interrupting_ = true;
      return;
    case EventKind::kStationNote:
      return;
    case EventKind::kSlotAlert:
      // Without a readable check the event says nothing the window can use.
      if (!aboutSlot || !event.check) return;
      At(event.slot).check = *event.check;
      At(event.slot).checkEvidence = SlotCheck{event.rule, event.boards, event.failed, event.rate,
                                               event.stationRate, event.lastReasons};
      return;
    case EventKind::kLog:  // a child's own lines: the window follows the supervisor's slot-state
    case EventKind::kEndAnswered:
    case EventKind::kUnknown:
      return;
  }
}

void StationModel::RunEnded(std::int64_t timeMs, const std::string& reason) {
  ended_ = true;
  for (auto& entry : slots_) {
    Slot& slot = entry.second;
    // No station left to wait for.
    if (slot.state == SlotState::kRearming) Clear(slot);
    if (slot.state != SlotState::kWriting) continue;
    slot.state = SlotState::kInterrupted;
    slot.endedMs = timeMs;
    if (slot.reason.empty()) slot.reason = reason;
  }
}

std::vector<const Slot*> StationModel::Slots() const {
  std::vector<const Slot*> out;
  for (const auto& entry : slots_) out.push_back(&entry.second);
  std::sort(out.begin(), out.end(),
            [](const Slot* a, const Slot* b) { return PortBefore(a->port, b->port); });
  return out;
}

const Slot* StationModel::Find(const std::string& port) const {
  const auto it = slots_.find(port);
  return it == slots_.end() ? nullptr : &it->second;
}

double StationModel::ElapsedSeconds(const Slot& slot, std::int64_t nowMs) {
  if (slot.state == SlotState::kEmpty || slot.startedMs == 0) return 0;
  const std::int64_t end = slot.state == SlotState::kWriting || slot.endedMs == 0 ? nowMs : slot.endedMs;
  return std::max<std::int64_t>(0, end - slot.startedMs) / 1000.0;
}

int StationModel::RearmSeconds(const Slot& slot, std::int64_t nowMs) {
  if (slot.state != SlotState::kRearming || slot.rearmAtMs <= nowMs) return 0;
  return static_cast<int>((slot.rearmAtMs - nowMs + 999) / 1000);
}

Tally StationModel::TallyAt(std::int64_t nowMs) const {
  if (reported_) return *reported_;
  Tally tally = counted_;
  const int boards = tally.written + tally.failed;
  const double hours = (nowMs - sessionStartMs_) / 3600000.0;
  // Too early for a rate that means anything: none rather than thousands.
  if (boards > 0 && sessionStartMs_ != 0 && hours * 3600 >= 60) tally.perHour = boards / hours;
  return tally;
}

bool StationModel::AnyWriting() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const auto& entry) { return entry.second.state == SlotState::kWriting; });
}

int StationModel::TakeNewFailures() {
  int n = 0;
  for (auto& entry : slots_) {
    if (entry.second.alert) ++n;
    entry.second.alert = false;
  }
  return n;
}
