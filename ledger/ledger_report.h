// The figures of tamsolt-cli --report, counted by SQLite: boards per outcome,
// per slot and per day, and the mean and slowest time of the boards done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/ledger.h"

struct ReportGroup {
  std::string key;   // outcome word, slot or day (YYYY-MM-DD, the station's local day)
  std::int64_t code = 0;  // per outcome: the code (-1 while running)
  std::int64_t boards = 0;
  std::int64_t done = 0;
};

struct LedgerReport {
  std::int64_t boards = 0;
  std::int64_t running = 0;  // not finished (a run going on, or one killed)
  std::int64_t done = 0;
  double meanSeconds = 0;     // over the boards done
  double slowestSeconds = 0;  // over the boards done
  std::vector<ReportGroup> perOutcome;
  std::vector<ReportGroup> perSlot;
  std::vector<ReportGroup> perDay;
};

// Boards started at or after since and before until (UTC times; "" leaves
// that end open).
bool BuildReport(const Ledger& ledger, const std::string& since, const std::string& until,
                 LedgerReport& report, std::string& error);
