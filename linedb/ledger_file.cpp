#include "linedb/ledger_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// Another station process may be writing its board: wait for it, bounded.
constexpr int kBusyMilliseconds = 5000;

// A column as a value for the line database: NULL stays NULL, the rest its
// bytes (SQLite gives numbers as their text), binary for the path columns.
PgValue Column(sqlite3_stmt* statement, int column, bool binary) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return PgValue::Null();
  const void* bytes = sqlite3_column_blob(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  std::string data(static_cast<const char*>(bytes), bytes != nullptr ? size : 0);
  return binary ? PgValue::Bytes(std::move(data)) : PgValue::Text(std::move(data));
}

}  // namespace

std::string UtcNowIso8601() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

LedgerFile::LedgerFile(const std::string& path, bool readOnly) : path_(path) {
  sqlite3* raw = nullptr;
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  const int status = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (status != SQLITE_OK) {
    error_ = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(status);
    db_.reset();
    return;
  }
  sqlite3_busy_timeout(raw, kBusyMilliseconds);
}

bool LedgerFile::Failed(const char* what) {
  error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_.get()) : "not open");
  return false;
}

LedgerFile::Statement LedgerFile::Prepare(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
    Failed("reading the ledger");
    return nullptr;
  }
  return Statement(raw);
}

std::vector<std::int64_t> LedgerFile::UnforwardedBoards() {
  std::vector<std::int64_t> ids;
  Statement statement = Prepare(
      "SELECT id FROM boards WHERE forwarded_utc IS NULL AND finished_utc IS NOT NULL ORDER BY id");
  if (!statement) return ids;
  int status;
  while ((status = sqlite3_step(statement.get())) == SQLITE_ROW) {
    ids.push_back(sqlite3_column_int64(statement.get(), 0));
  }
  if (status != SQLITE_DONE) {
    Failed("reading the ledger");
    ids.clear();
  }
  return ids;
}

std::optional<LedgerBoard> LedgerFile::ReadBoard(std::int64_t id) {
  Statement board = Prepare(
      "SELECT uuid, started_utc, finished_utc, seconds, station, slot, device, program, version,"
      " operator, settings_path, settings_sha256, outcome_code, outcome, message"
      " FROM boards WHERE id = ?");
  Statement images = Prepare(
      "SELECT kind, path, bytes, sha256, pinned, started_utc, finished_utc, result"
      " FROM images WHERE board_id = ? ORDER BY id");
  if (!board || !images) return std::nullopt;
  sqlite3_bind_int64(board.get(), 1, id);
  sqlite3_bind_int64(images.get(), 1, id);

  LedgerBoard out;
  if (sqlite3_step(board.get()) != SQLITE_ROW) {
    Failed("reading a board of the ledger");
    return std::nullopt;
  }
  constexpr int kSettingsPath = 10;
  for (int column = 0; column < sqlite3_column_count(board.get()); ++column) {
    out.board.push_back(Column(board.get(), column, column == kSettingsPath));
  }
  constexpr int kImagePath = 1;
  int status;
  while ((status = sqlite3_step(images.get())) == SQLITE_ROW) {
    std::vector<PgValue>& image = out.images.emplace_back();
    for (int column = 0; column < sqlite3_column_count(images.get()); ++column) {
      image.push_back(Column(images.get(), column, column == kImagePath));
    }
  }
  if (status != SQLITE_DONE) {
    Failed("reading the images of a board");
    return std::nullopt;
  }
  return out;
}

bool LedgerFile::MarkForwarded(std::int64_t id, const std::string& utc) {
  Statement statement =
      Prepare("UPDATE boards SET forwarded_utc = ? WHERE id = ? AND forwarded_utc IS NULL");
  if (!statement) return false;
  sqlite3_bind_text(statement.get(), 1, utc.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(statement.get(), 2, id);
  if (sqlite3_step(statement.get()) != SQLITE_DONE) return Failed("marking a forwarded board");
  return true;
}

std::optional<std::int64_t> LedgerFile::CountUnforwarded() {
  Statement statement = Prepare(
      "SELECT count(*) FROM boards WHERE forwarded_utc IS NULL AND finished_utc IS NOT NULL");
  if (!statement) return std::nullopt;
  if (sqlite3_step(statement.get()) != SQLITE_ROW) {
    Failed("counting the backlog");
    return std::nullopt;
  }
  return sqlite3_column_int64(statement.get(), 0);
}
