#include "supervisor/slot_alerts.h"

const char* SlotAlertRuleName(SlotAlert::Rule rule) {
  switch (rule) {
    case SlotAlert::Rule::kLastThreeFailed: return "last-three-failed";
    case SlotAlert::Rule::kHighRate: return "high-rate";
  }
  return "";
}

std::optional<SlotAlert::Rule> SlotAlertRule(long boards, long failed, int failedInARow,
                                             long stationBoards, long stationFailed) {
  if (failedInARow >= kFailuresInARowAlert) return SlotAlert::Rule::kLastThreeFailed;
  if (boards < kHighRateMinBoards || stationBoards <= 0) return std::nullopt;
  // In whole numbers: failed/boards >= 2 * stationFailed/stationBoards, and
  // failed/boards - stationFailed/stationBoards >= 3/10.
  const long slotShare = failed * stationBoards;
  const long stationShare = stationFailed * boards;
  if (slotShare >= 2 * stationShare && 10 * (slotShare - stationShare) >= 3 * boards * stationBoards) {
    return SlotAlert::Rule::kHighRate;
  }
  return std::nullopt;
}

bool SlotAlerts::Record(const std::string& slot, BoardVerdict verdict, const std::string& reason) {
  if (verdict == BoardVerdict::kCut) return false;
  Counts& counts = slots_[slot];
  ++counts.boards;
  ++boards_;
  if (verdict == BoardVerdict::kWritten) {
    counts.failedInARow = 0;
    const bool had = counts.alert.has_value();
    counts.alert.reset();
    return had;
  }
  ++counts.failed;
  ++failed_;
  ++counts.failedInARow;
  counts.lastReasons.push_back(reason);
  if (counts.lastReasons.size() > static_cast<std::size_t>(kFailuresInARowAlert)) counts.lastReasons.pop_front();
  const auto rule = SlotAlertRule(counts.boards, counts.failed, counts.failedInARow, boards_, failed_);
  // An alert raised stays until a board is written; its evidence grows.
  if (!rule && !counts.alert) return false;
  const SlotAlert::Rule firing = rule ? *rule : counts.alert->rule;
  counts.alert = Evidence(slot);
  counts.alert->rule = firing;
  return true;
}

const SlotAlert* SlotAlerts::AlertOf(const std::string& slot) const {
  const auto found = slots_.find(slot);
  return found == slots_.end() || !found->second.alert ? nullptr : &*found->second.alert;
}

SlotAlert SlotAlerts::Evidence(const std::string& slot) const {
  SlotAlert evidence;
  evidence.stationBoards = boards_;
  evidence.stationFailed = failed_;
  const auto found = slots_.find(slot);
  if (found == slots_.end()) return evidence;
  evidence.boards = found->second.boards;
  evidence.failed = found->second.failed;
  evidence.lastReasons.assign(found->second.lastReasons.begin(), found->second.lastReasons.end());
  return evidence;
}
