#include "ledger/ledger_report.h"

namespace {

bool Groups(const Ledger& ledger, const char* sql, const std::string& since,
            std::vector<ReportGroup>& groups, std::string& error) {
  SqliteStatement query(ledger.Database(), sql);
  query.BindText(1, since);
  int step = SQLITE_ROW;
  while ((step = query.Step()) == SQLITE_ROW) {
    groups.push_back(ReportGroup{query.Bytes(0), query.Int(1), query.Int(2), query.Int(3)});
  }
  if (step == SQLITE_DONE) return true;
  error = ledger.Database().LastError();
  return false;
}

}  // namespace

bool BuildReport(const Ledger& ledger, const std::string& since, LedgerReport& report,
                 std::string& error) {
  SqliteStatement totals(ledger.Database(),
                         "SELECT COUNT(*), COALESCE(SUM(finished_utc IS NULL), 0), "
                         "COALESCE(SUM(outcome_code = 0), 0), "
                         "COALESCE(AVG(CASE WHEN outcome_code = 0 THEN seconds END), 0), "
                         "COALESCE(MAX(CASE WHEN outcome_code = 0 THEN seconds END), 0) "
                         "FROM boards WHERE started_utc >= ?1");
  totals.BindText(1, since);
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
                "COALESCE(SUM(outcome_code = 0), 0) FROM boards WHERE started_utc >= ?1 "
                "GROUP BY outcome_code ORDER BY outcome_code",
                since, report.perOutcome, error) &&
         Groups(ledger,
                "SELECT slot, 0, COUNT(*), COALESCE(SUM(outcome_code = 0), 0) FROM boards "
                "WHERE started_utc >= ?1 GROUP BY slot ORDER BY slot",
                since, report.perSlot, error) &&
         Groups(ledger,
                "SELECT substr(started_utc, 1, 10), 0, COUNT(*), "
                "COALESCE(SUM(outcome_code = 0), 0) FROM boards "
                "WHERE started_utc >= ?1 GROUP BY 1 ORDER BY 1",
                since, report.perDay, error);
}
