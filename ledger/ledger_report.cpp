#include "ledger/ledger_report.h"

#include <algorithm>
#include <string>

namespace {

// The boards of the span: ?1 its start, ?2 its end ('' for none).
constexpr char kInSpan[] = " WHERE started_utc >= ?1 AND (?2 = '' OR started_utc < ?2) ";
// Finished, not done and not interrupted (exit 10): the board failed.
constexpr char kFailed[] = "COALESCE(SUM(outcome_code NOT IN (0, 10)), 0)";

bool Groups(const Ledger& ledger, const std::string& sql, const std::string& since,
            const std::string& until, std::vector<ReportGroup>& groups, std::string& error) {
  SqliteStatement query(ledger.Database(), sql.c_str());
  query.BindText(1, since);
  query.BindText(2, until);
  int step = SQLITE_ROW;
  while ((step = query.Step()) == SQLITE_ROW) {
    groups.push_back(ReportGroup{query.Bytes(0), query.Int(1), query.Int(2), query.Int(3), query.Int(4)});
  }
  if (step == SQLITE_DONE) return true;
  error = ledger.Database().LastError();
  return false;
}

// The slots to check first: the highest failure rate, then the most failures.
bool SortByFailureRate(LedgerReport& report) {
  report.slotsByFailureRate = report.perSlot;  // by slot already: ties keep that order
  std::stable_sort(report.slotsByFailureRate.begin(), report.slotsByFailureRate.end(),
                   [](const ReportGroup& a, const ReportGroup& b) {
                     const double rateA = FailureRate(a);
                     const double rateB = FailureRate(b);
                     if (rateA != rateB) return rateA > rateB;
                     return a.failed > b.failed;
                   });
  return true;
}

}  // namespace

double FailureRate(const ReportGroup& group) {
  const std::int64_t judged = group.done + group.failed;
  return judged > 0 ? static_cast<double>(group.failed) / static_cast<double>(judged) : 0.0;
}

bool BuildReport(const Ledger& ledger, const std::string& since, const std::string& until,
                 LedgerReport& report, std::string& error) {
  const std::string sql = std::string(
                              "SELECT COUNT(*), COALESCE(SUM(finished_utc IS NULL), 0), "
                              "COALESCE(SUM(outcome_code = 0), 0), "
                              "COALESCE(AVG(CASE WHEN outcome_code = 0 THEN seconds END), 0), "
                              "COALESCE(MAX(CASE WHEN outcome_code = 0 THEN seconds END), 0) "
                              "FROM boards") + kInSpan;
  SqliteStatement totals(ledger.Database(), sql.c_str());
  totals.BindText(1, since);
  totals.BindText(2, until);
  if (totals.Step() != SQLITE_ROW) {
    error = ledger.Database().LastError();
    return false;
  }
  report.boards = totals.Int(0);
  report.running = totals.Int(1);
  report.done = totals.Int(2);
  report.meanSeconds = totals.Real(3);
  report.slowestSeconds = totals.Real(4);
  return Groups(ledger,
                "SELECT COALESCE(outcome, 'running'), COALESCE(outcome_code, -1), COUNT(*), "
                "COALESCE(SUM(outcome_code = 0), 0), " + std::string(kFailed) + " FROM boards" + kInSpan +
                    "GROUP BY outcome_code ORDER BY outcome_code",
                since, until, report.perOutcome, error) &&
         Groups(ledger,
                "SELECT slot, 0, COUNT(*), COALESCE(SUM(outcome_code = 0), 0), " +
                    std::string(kFailed) + " FROM boards" + kInSpan + "GROUP BY slot ORDER BY slot",
                since, until, report.perSlot, error) &&
         Groups(ledger,
                // The station's local day: SQLite's localtime follows TZ.
                "SELECT date(started_utc, 'localtime'), 0, COUNT(*), "
                "COALESCE(SUM(outcome_code = 0), 0), " + std::string(kFailed) + " FROM boards" + kInSpan +
                    "GROUP BY 1 ORDER BY 1",
                since, until, report.perDay, error) &&
         Groups(ledger,
                "SELECT recipe, COALESCE(recipe_version, 0), COUNT(*), COALESCE(SUM(outcome_code = 0), 0), " +
                    std::string(kFailed) + " FROM boards" + kInSpan + "GROUP BY 1, 2 ORDER BY 1, 2",
                since, until, report.perRecipe, error) &&
         SortByFailureRate(report);
}
