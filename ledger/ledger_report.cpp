#include "ledger/ledger_report.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace {

void Count(ReportGroup& group, const std::optional<std::int64_t>& code) {
  ++group.boards;
  if (code && *code == 0) ++group.done;
  // Finished, not done and not interrupted (exit 10): the board failed.
  if (code && *code != 0 && *code != 10) ++group.failed;
}

template <typename Key>
std::vector<ReportGroup> InKeyOrder(const std::map<Key, ReportGroup>& groups) {
  std::vector<ReportGroup> ordered;
  for (const auto& entry : groups) ordered.push_back(entry.second);
  return ordered;
}

// The slots to check first: the highest failure rate, then the most failures.
void SortByFailureRate(LedgerReport& report) {
  report.slotsByFailureRate = report.perSlot;  // by slot already: ties keep that order
  std::stable_sort(report.slotsByFailureRate.begin(), report.slotsByFailureRate.end(),
                   [](const ReportGroup& a, const ReportGroup& b) {
                     const double rateA = FailureRate(a);
                     const double rateB = FailureRate(b);
                     if (rateA != rateB) return rateA > rateB;
                     return a.failed > b.failed;
                   });
}

}  // namespace

// One pass over the span's boards, read from the boards_started index that
// covers it: a year of boards is counted in one read of the index, not sorted
// once for every table. The local day is SQLite's (localtime follows TZ).
std::string ReportSpanQuery(bool untilSet) {
  return std::string(
             "SELECT date(started_utc, 'localtime'), slot, outcome_code, outcome, seconds, "
             "finished_utc IS NULL, recipe, recipe_version FROM boards WHERE started_utc >= ?1") +
         (untilSet ? " AND started_utc < ?2" : "");
}

double FailureRate(const ReportGroup& group) {
  const std::int64_t judged = group.done + group.failed;
  return judged > 0 ? static_cast<double>(group.failed) / static_cast<double>(judged) : 0.0;
}

bool BuildReport(const Ledger& ledger, const std::string& since, const std::string& until,
                 LedgerReport& report, std::string& error) {
  SqliteStatement boards(ledger.Database(), ReportSpanQuery(!until.empty()).c_str());
  boards.BindText(1, since);
  if (!until.empty()) boards.BindText(2, until);
  // Running boards (no code) come first, as NULL sorts first in SQL.
  std::map<std::optional<std::int64_t>, ReportGroup> perOutcome;
  std::map<std::string, ReportGroup> perSlot;
  std::map<std::string, ReportGroup> perDay;
  // By recipe ("" for none) and version (0 for none).
  std::map<std::pair<std::string, std::int64_t>, ReportGroup> perRecipe;
  std::int64_t timed = 0;
  double totalSeconds = 0;
  int step = SQLITE_ROW;
  while ((step = boards.Step()) == SQLITE_ROW) {
    const std::optional<std::int64_t> code =
        boards.IsNull(2) ? std::nullopt : std::optional<std::int64_t>(boards.Int(2));
    ++report.boards;
    if (boards.Int(5) != 0) ++report.running;
    if (code && *code == 0) {
      ++report.done;
      if (!boards.IsNull(4)) {
        const double seconds = boards.Real(4);
        report.slowestSeconds = timed == 0 ? seconds : std::max(report.slowestSeconds, seconds);
        totalSeconds += seconds;
        ++timed;
      }
    }
    ReportGroup& outcome = perOutcome[code];
    if (outcome.boards == 0) {
      outcome.key = boards.IsNull(3) ? "running" : boards.Bytes(3);
      outcome.code = code.value_or(-1);
    }
    Count(outcome, code);
    std::string slot = boards.Bytes(1);
    ReportGroup& inSlot = perSlot[slot];
    if (inSlot.boards == 0) inSlot.key = std::move(slot);
    Count(inSlot, code);
    std::string day = boards.Bytes(0);
    ReportGroup& onDay = perDay[day];
    if (onDay.boards == 0) onDay.key = std::move(day);
    Count(onDay, code);
    std::pair<std::string, std::int64_t> recipe(boards.Bytes(6), boards.IsNull(7) ? 0 : boards.Int(7));
    ReportGroup& ofRecipe = perRecipe[recipe];
    if (ofRecipe.boards == 0) {
      ofRecipe.key = std::move(recipe.first);
      ofRecipe.code = recipe.second;
    }
    Count(ofRecipe, code);
  }
  if (step != SQLITE_DONE) {
    error = ledger.Database().LastError();
    return false;
  }
  report.meanSeconds = timed > 0 ? totalSeconds / static_cast<double>(timed) : 0;
  report.perOutcome = InKeyOrder(perOutcome);
  report.perSlot = InKeyOrder(perSlot);
  report.perDay = InKeyOrder(perDay);
  report.perRecipe = InKeyOrder(perRecipe);
  SortByFailureRate(report);
  return true;
}
