// The figures of tamsolt-cli --report, counted in one pass over the span's
// boards: boards per outcome, per slot (with its failure rate) and per day,
// and the mean and slowest time of the boards done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/ledger.h"

struct ReportGroup {
  std::string key;   // outcome word, slot, day (YYYY-MM-DD, the station's local day) or recipe
  std::int64_t code = 0;  // per outcome: the code (-1 while running); per recipe: the version
  std::int64_t boards = 0;
  std::int64_t done = 0;
  // Finished and not done, not counting interrupted boards (exit 10: cut by a
  // stop signal, nothing of the board's or the slot's doing).
  std::int64_t failed = 0;
};

// failed over the boards with a verdict (done + failed); 0 with none.
double FailureRate(const ReportGroup& group);

struct LedgerReport {
  std::int64_t boards = 0;
  std::int64_t running = 0;  // not finished (a run going on, or one killed)
  std::int64_t done = 0;
  double meanSeconds = 0;     // over the boards done
  double slowestSeconds = 0;  // over the boards done
  std::vector<ReportGroup> perOutcome;
  std::vector<ReportGroup> perSlot;
  // The same slots, the highest failure rate first (then more failures, then by slot):
  // the slots to check come first.
  std::vector<ReportGroup> slotsByFailureRate;
  std::vector<ReportGroup> perDay;
  // By recipe (key, "" for none) and version (code, 0 for none).
  std::vector<ReportGroup> perRecipe;
};

// Boards started at or after since and before until (UTC times; "" leaves
// that end open).
// The query of that pass: ?1 the start, ?2 the end when untilSet.
std::string ReportSpanQuery(bool untilSet);

bool BuildReport(const Ledger& ledger, const std::string& since, const std::string& until,
                 LedgerReport& report, std::string& error);
