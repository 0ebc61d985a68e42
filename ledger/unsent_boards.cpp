#include "ledger/unsent_boards.h"

namespace {

constexpr const char* kUnsent = "forwarded_utc IS NULL AND finished_utc IS NOT NULL";

std::optional<std::string> OptionalText(const SqliteStatement& row, int column) {
  if (row.IsNull(column)) return std::nullopt;
  return row.Bytes(column);
}

bool Failed(const Ledger& ledger, const char* what, std::string& error) {
  error = std::string(what) + ": " + ledger.Database().LastError();
  return false;
}

}  // namespace

std::optional<std::vector<std::int64_t>> UnsentBoardIds(const Ledger& ledger, std::string& error) {
  SqliteStatement select(ledger.Database(),
                         (std::string("SELECT id FROM boards WHERE ") + kUnsent + " ORDER BY id").c_str());
  std::vector<std::int64_t> ids;
  int step;
  while ((step = select.Step()) == SQLITE_ROW) ids.push_back(select.Int(0));
  if (step != SQLITE_DONE) {
    Failed(ledger, "reading the ledger", error);
    return std::nullopt;
  }
  return ids;
}

std::optional<LineBoard> ReadUnsentBoard(const Ledger& ledger, std::int64_t id, std::string& error) {
  SqliteStatement board(ledger.Database(),
                        "SELECT uuid, started_utc, finished_utc, seconds, station, slot, device, program,"
                        " version, operator, settings_path, settings_sha256, outcome_code, outcome,"
                        " message, log_lost, recipe, recipe_version FROM boards WHERE id = ?1");
  board.BindInt(1, id);
  if (board.Step() != SQLITE_ROW) {
    Failed(ledger, "reading a board of the ledger", error);
    return std::nullopt;
  }
  LineBoard out;
  out.uuid = board.Bytes(0);
  out.startedUtc = board.Bytes(1);
  out.finishedUtc = board.Bytes(2);
  if (!board.IsNull(3)) out.seconds = board.Real(3);
  out.station = board.Bytes(4);
  out.slot = board.Bytes(5);
  out.device = board.Bytes(6);
  out.program = board.Bytes(7);
  out.version = board.Bytes(8);
  out.operatorName = board.Bytes(9);
  out.settingsPath = board.Bytes(10);
  out.settingsSha256 = board.Bytes(11);
  if (!board.IsNull(12)) out.outcomeCode = board.Int(12);
  out.outcome = OptionalText(board, 13);
  out.message = board.Bytes(14);
  out.logLost = board.Int(15) != 0;
  out.recipe = board.Bytes(16);
  if (!board.IsNull(17)) out.recipeVersion = board.Int(17);

  SqliteStatement images(ledger.Database(),
                         "SELECT kind, path, bytes, sha256, pinned, started_utc, finished_utc, result"
                         " FROM images WHERE board_id = ?1 ORDER BY id");
  images.BindInt(1, id);
  int step;
  while ((step = images.Step()) == SQLITE_ROW) {
    out.images.push_back(LineImage{images.Bytes(0), images.Bytes(1), images.Int(2), images.Bytes(3),
                                   images.Int(4) != 0, OptionalText(images, 5), OptionalText(images, 6),
                                   images.Bytes(7)});
  }
  if (step != SQLITE_DONE) {
    Failed(ledger, "reading the images of a board", error);
    return std::nullopt;
  }
  return out;
}

bool MarkBoardForwarded(const Ledger& ledger, std::int64_t id, std::string& error) {
  SqliteStatement mark(ledger.Database(),
                       "UPDATE boards SET forwarded_utc = ?1 WHERE id = ?2 AND forwarded_utc IS NULL");
  mark.BindText(1, UtcNow());
  mark.BindInt(2, id);
  return mark.Run() || Failed(ledger, "marking a forwarded board", error);
}

void MarkWithoutDiskFlush(const Ledger& ledger) {
  // In WAL mode NORMAL keeps the file whole; only the newest commits may be lost.
  SqliteStatement(ledger.Database(), "PRAGMA synchronous = NORMAL").Run();
}

std::optional<std::int64_t> CountUnsentBoards(const Ledger& ledger, std::string& error) {
  SqliteStatement count(ledger.Database(), (std::string("SELECT count(*) FROM boards WHERE ") + kUnsent).c_str());
  if (count.Step() != SQLITE_ROW) {
    Failed(ledger, "counting the backlog", error);
    return std::nullopt;
  }
  return count.Int(0);
}
