#include "ledger/sqlite_handles.h"

#include <cerrno>
#include <cstdio>

SqliteDatabase::~SqliteDatabase() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

bool SqliteDatabase::Open(const std::string& path, bool create, std::string& error) {
  const std::size_t slash = path.rfind('/');
  folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  return OpenWith(path, flags, error);
}

bool SqliteDatabase::OpenWith(const std::string& name, int flags, std::string& error) {
  if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    error = db_ != nullptr ? LastError() : "out of memory";
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  // A damaged page is an error when it is read, never rows made of its garbage.
  sqlite3_exec(db_, "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);
  return true;
}

bool SqliteDatabase::Execute(const char* sql, std::string& error) {
  char* message = nullptr;
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (code == SQLITE_OK) return true;
  lastFailure_ = code;
  error = message != nullptr ? Explained(message) : LastError();
  sqlite3_free(message);
  return false;
}

bool SqliteDatabase::OpenReadOnly(const std::string& path, bool immutable, std::string& error) {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  const std::size_t slash = path.rfind('/');
  folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  // As a URI, with the characters a URI gives a meaning escaped.
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  if (immutable) uri += "?immutable=1";
  return OpenWith(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, error);
}

std::string SqliteDatabase::LastError() const {
  return db_ != nullptr ? Explained(sqlite3_errmsg(db_)) : "no database";
}

std::string SqliteDatabase::Explained(std::string message) const {
  // An operator reading "disk I/O error" looks for a failing disk, not a full one.
  const int primary = sqlite3_extended_errcode(db_) & 0xff;
  const bool full = primary == SQLITE_FULL ||
                    ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) &&
                     sqlite3_system_errno(db_) == ENOSPC);
  if (full) message += " (the disk holding " + folder_ + " is full)";
  return message;
}

SqliteStatement::SqliteStatement(const SqliteDatabase& db, const char* sql) {
  if (sqlite3_prepare_v2(db.get(), sql, -1, &statement_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

void SqliteStatement::BindText(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::BindBlob(int index, std::string_view bytes) {
  // A zero-length blob must stay a blob, not become NULL.
  sqlite3_bind_blob(statement_, index, bytes.empty() ? "" : bytes.data(),
                    static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::BindInt(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
void SqliteStatement::BindReal(int index, double value) { sqlite3_bind_double(statement_, index, value); }
void SqliteStatement::BindNull(int index) { sqlite3_bind_null(statement_, index); }

int SqliteStatement::Step() { return statement_ != nullptr ? sqlite3_step(statement_) : SQLITE_MISUSE; }

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}
std::int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }
double SqliteStatement::Real(int column) const { return sqlite3_column_double(statement_, column); }

void SqliteStatement::BindColumnOf(int index, const SqliteStatement& from, int column) {
  sqlite3_bind_value(statement_, index, sqlite3_column_value(from.statement_, column));
}

std::string SqliteStatement::Bytes(int column) const {
  const void* data = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                         : std::string();
}
