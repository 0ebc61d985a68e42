#include "ledger/ledger_damage.h"

namespace {

// Steps through every row, reading every column, as a writer's search does.
// "" unless SQLite calls what it read damaged.
std::string ReadThrough(const SqliteDatabase& db, const char* sql) {
  SqliteStatement statement(db, sql);
  int step = SQLITE_ROW;
  if (!statement.ok()) {
    const int code = sqlite3_errcode(db.get());
    return IsDamage(code) ? db.LastError() : std::string();
  }
  while ((step = statement.Step()) == SQLITE_ROW) {
    for (int column = 0; column < statement.Columns(); ++column) statement.Bytes(column);
  }
  return step == SQLITE_DONE || !IsDamage(step) ? std::string() : db.LastError();
}

}  // namespace

bool IsDamage(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::string CheckWhereWritten(const SqliteDatabase& db) {
  // The newest rows by each way a writer reaches them: the tables' last
  // pages, each index's last pages, and the index of the boards not sent.
  static constexpr const char* kReads[] = {
      "SELECT * FROM sqlite_schema",
      "SELECT * FROM boards ORDER BY id DESC LIMIT 64",
      "SELECT * FROM images ORDER BY id DESC LIMIT 600",
      "SELECT started_utc, slot, outcome_code FROM boards ORDER BY started_utc DESC LIMIT 64",
      "SELECT board_id FROM images ORDER BY board_id DESC LIMIT 600",
      "SELECT id, finished_utc FROM boards WHERE forwarded_utc IS NULL",
  };
  for (const char* sql : kReads) {
    if (std::string damage = ReadThrough(db, sql); !damage.empty()) return damage;
  }
  return {};
}

std::string CheckEveryPage(const SqliteDatabase& db) {
  SqliteStatement check(db, "PRAGMA quick_check(8)");
  std::string problems;
  int step = SQLITE_ROW;
  while ((step = check.Step()) == SQLITE_ROW) {
    const std::string line = check.Bytes(0);
    if (line == "ok") return {};
    problems += (problems.empty() ? "" : "\n") + line;
  }
  if (step != SQLITE_DONE && IsDamage(step)) return db.LastError();
  return problems;
}
