// The ledger's report for today (`tamsolt-cli --report --since DAY --json`),
// as the station window's record panel shows it.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ReportCount {
  std::string key;  // an outcome's word, or a slot
  int boards = 0;
  int done = 0;
};

struct TodayReport {
  int boards = 0;
  int done = 0;
  std::vector<ReportCount> perOutcome;
  std::vector<ReportCount> perSlot;
};

// Nothing when the text is not a report (an older CLI, an error message).
std::optional<TodayReport> ParseTodayReport(const std::string& json);
