// Slots that ask to be checked. Repeated failures in one slot point at its
// port, cable or hub more often than at the boards, so the station says so:
// - the slot's last three boards failed, or
// - the slot has had at least 5 boards this session and its failure rate is
//   at least twice the station's and at least 30 percentage points above it.
// Only boards with a verdict count (written or failed); a board cut by a stop
// signal says nothing about its slot. The rule is looked at when a board in
// the slot fails; a board written in the slot clears the alert (a later
// failure raises it again while the slot's rate is still far above).
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SlotAlert {
  enum class Rule { kLastThreeFailed, kHighRate };
  Rule rule = Rule::kLastThreeFailed;
  // The evidence: this session's boards with a verdict, in the slot and in the station.
  long boards = 0;
  long failed = 0;
  long stationBoards = 0;
  long stationFailed = 0;
  std::vector<std::string> lastReasons;  // the slot's last failures' reasons, oldest first (at most 3)
};

// "last-three-failed", "high-rate": the events' words.
const char* SlotAlertRuleName(SlotAlert::Rule rule);

inline constexpr int kFailuresInARowAlert = 3;
inline constexpr long kHighRateMinBoards = 5;

// The rule alone: which one fires for these counts, if any.
std::optional<SlotAlert::Rule> SlotAlertRule(long boards, long failed, int failedInARow,
                                             long stationBoards, long stationFailed);

// A board's end as its slot sees it: kCut, a write cut by a stop signal, is
// neither (not counted, and it does not break a run of failures).
enum class BoardVerdict { kWritten, kFailed, kCut };

class SlotAlerts {
 public:
  // A board of the slot ended, with the reason of a failure. True when the
  // slot's alert changed: raised, its evidence grown, or cleared.
  bool Record(const std::string& slot, BoardVerdict verdict, const std::string& reason);
  // The slot's alert, or nothing.
  const SlotAlert* AlertOf(const std::string& slot) const;
  // The slot's evidence now (alert or not), for the clearing event.
  SlotAlert Evidence(const std::string& slot) const;

 private:
  struct Counts {
    long boards = 0;
    long failed = 0;
    int failedInARow = 0;
    std::deque<std::string> lastReasons;
    std::optional<SlotAlert> alert;
  };
  std::map<std::string, Counts> slots_;
  long boards_ = 0;
  long failed_ = 0;
};
