#include "linedb/forward_backlog.h"

#include <string_view>

#include "linedb/ledger_file.h"
#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"

namespace {

// Column order as LedgerFile::ReadBoard gives them.
constexpr const char* kInsertBoard =
    "INSERT INTO boards (uuid, started_utc, finished_utc, seconds, station, slot, device, program,"
    " version, operator, settings_path, settings_sha256, outcome_code, outcome, message)"
    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15)"
    " ON CONFLICT (uuid) DO NOTHING RETURNING id";
constexpr const char* kInsertImage =
    "INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, started_utc, finished_utc,"
    " result) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)";

enum class Sent { Stored, Refused, Failed };

// A refusal of this board's own data (a malformed time or uuid, a missing
// value): SQLSTATE classes 22 and 23. Anything else would refuse every board.
bool RefusesOnlyThisBoard(const std::string& state) {
  return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0;
}

// The board and its images in one transaction. A board whose uuid is already
// there (sent before, or by another process just now) inserts nothing.
Sent SendBoard(PgConnection& db, const LedgerBoard& board) {
  if (!db.Exec("BEGIN")) return Sent::Failed;
  PgResult inserted = db.Exec(kInsertBoard, board.board);
  bool stored = static_cast<bool>(inserted);
  if (stored && PQntuples(inserted.get()) == 1) {
    const PgValue boardId = PgValue::Text(PQgetvalue(inserted.get(), 0, 0));
    for (const std::vector<PgValue>& image : board.images) {
      std::vector<PgValue> values{boardId};
      values.insert(values.end(), image.begin(), image.end());
      if (!db.Exec(kInsertImage, values)) {
        stored = false;
        break;
      }
    }
  }
  if (stored && db.Exec("COMMIT")) return Sent::Stored;
  const bool onlyThisBoard = RefusesOnlyThisBoard(db.LastState());
  db.Rollback();
  return onlyThisBoard && db.Ok() ? Sent::Refused : Sent::Failed;
}

std::string AtLedger(const std::string& path, const std::string& message) {
  return "ledger " + path + ": " + message;
}

}  // namespace

ForwardResult ForwardBacklog(const std::string& ledgerPath, const std::string& connectionString,
                             const PgWaitLimits& limits) {
  ForwardResult result;
  LedgerFile ledger(ledgerPath, false);
  if (!ledger.Ok()) {
    result.error = AtLedger(ledgerPath, ledger.Error());
    return result;
  }
  const std::vector<std::int64_t> waiting = ledger.UnforwardedBoards();
  if (!ledger.Error().empty()) {
    result.error = AtLedger(ledgerPath, ledger.Error());
    return result;
  }
  result.left = static_cast<std::int64_t>(waiting.size());
  if (waiting.empty()) return result;
  // An empty string would make libpq try a local server by its defaults.
  if (connectionString.empty()) {
    result.error = "line database: no connection string is set";
    return result;
  }

  PgConnection db(connectionString, limits);
  const std::string where = "line database (" + db.Describe() + "): ";
  if (!db.Ok() || !EnsureLineSchema(db)) {
    result.error = where + db.Error();
    result.stopped = db.Stopped();
    return result;
  }
  for (std::int64_t id : waiting) {
    const std::optional<LedgerBoard> board = ledger.ReadBoard(id);
    if (!board) {
      result.error = AtLedger(ledgerPath, ledger.Error());
      break;
    }
    const Sent sent = SendBoard(db, *board);
    if (sent != Sent::Stored) {
      result.stopped = db.Stopped();
      // A stop or a time-out is what ended the forward, whatever was refused before.
      if (result.error.empty() || result.stopped || db.TimedOut()) result.error = where + db.Error();
      if (sent == Sent::Refused) continue;
      break;
    }
    // Committed: if this mark is lost the board is sent again, and inserts nothing.
    if (!ledger.MarkForwarded(id, UtcNowIso8601())) {
      result.error = AtLedger(ledgerPath, ledger.Error());
      break;
    }
    ++result.forwarded;
  }
  result.left = ledger.CountUnforwarded().value_or(-1);
  if (result.left < 0 && result.error.empty()) result.error = AtLedger(ledgerPath, ledger.Error());
  return result;
}

std::int64_t CountBacklog(const std::string& ledgerPath, std::string* error) {
  LedgerFile ledger(ledgerPath, true);
  const std::optional<std::int64_t> count =
      ledger.Ok() ? ledger.CountUnforwarded() : std::optional<std::int64_t>();
  if (!count && error != nullptr) *error = AtLedger(ledgerPath, ledger.Error());
  return count.value_or(-1);
}
