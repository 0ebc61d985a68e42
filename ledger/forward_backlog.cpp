#include "ledger/forward_backlog.h"

#include <memory>
#include <optional>
#include <vector>

#include "ledger/ledger.h"
#include "ledger/unsent_boards.h"
#include "linedb/board_insert.h"
#include "linedb/line_schema.h"

namespace {

std::string AtLedger(const std::string& path, const std::string& message) {
  return "ledger " + path + ": " + message;
}

}  // namespace

ForwardResult ForwardBacklog(const std::string& ledgerPath, const std::string& connectionString,
                             const PgWaitLimits& limits) {
  ForwardResult result;
  std::string error;
  const std::unique_ptr<Ledger> ledger = Ledger::OpenExisting(ledgerPath, error);
  const std::optional<std::vector<std::int64_t>> waiting =
      ledger ? UnsentBoardIds(*ledger, error) : std::nullopt;
  if (!waiting) {
    result.error = AtLedger(ledgerPath, error);
    return result;
  }
  result.left = static_cast<std::int64_t>(waiting->size());
  if (waiting->empty()) return result;
  // An empty string would make libpq try a local server by its defaults.
  if (connectionString.empty()) {
    result.error = "line database: no connection string is set";
    return result;
  }

  PgConnection db(connectionString, limits);
  const std::string where = "line database (" + db.Describe() + "): ";
  const std::optional<LineSchema> schema = db.Ok() ? EnsureLineSchema(db) : std::nullopt;
  if (!schema) {
    result.error = where + db.Error();
    result.stopped = db.Stopped();
    return result;
  }
  if (!schema->behind.empty()) result.notice = where + schema->behind;
  MarkWithoutDiskFlush(*ledger);
  for (std::int64_t id : *waiting) {
    const std::optional<LineBoard> board = ReadUnsentBoard(*ledger, id, error);
    if (!board) {
      result.error = AtLedger(ledgerPath, error);
      break;
    }
    const LineInsert sent = InsertLineBoard(db, *board, schema->version);
    if (sent != LineInsert::kStored) {
      result.stopped = db.Stopped();
      // A stop or a time-out is what ended the forward, whatever was refused before.
      if (result.error.empty() || result.stopped || db.TimedOut()) result.error = where + db.Error();
      if (sent == LineInsert::kRefused) continue;
      break;
    }
    // Committed: if this mark is lost the board is sent again, and inserts nothing.
    if (!MarkBoardForwarded(*ledger, id, error)) {
      result.error = AtLedger(ledgerPath, error);
      break;
    }
    ++result.forwarded;
  }
  result.left = CountUnsentBoards(*ledger, error).value_or(-1);
  if (result.left < 0 && result.error.empty()) result.error = AtLedger(ledgerPath, error);
  return result;
}

std::int64_t CountBacklog(const std::string& ledgerPath, std::string* error) {
  std::string why;
  const std::unique_ptr<Ledger> ledger = Ledger::OpenExisting(ledgerPath, why);
  const std::optional<std::int64_t> count = ledger ? CountUnsentBoards(*ledger, why) : std::nullopt;
  if (!count && error != nullptr) *error = AtLedger(ledgerPath, why);
  return count.value_or(-1);
}
