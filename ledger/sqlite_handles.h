// A thin RAII layer over SQLite's C API: the connection and a prepared
// statement, each closed by its destructor. Values only ever go in as bound
// parameters.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

class SqliteDatabase {
 public:
  SqliteDatabase() = default;
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  // Opens (creating when create is true) the file; false with the reason in error.
  bool Open(const std::string& path, bool create, std::string& error);
  // Opens the file for reading only; immutable: as a file no process writes
  // now (no -shm is made or needed).
  bool OpenReadOnly(const std::string& path, bool immutable, std::string& error);
  // Runs SQL without parameters (schema, pragmas, transactions).
  bool Execute(const char* sql, std::string& error);
  sqlite3* get() const { return db_; }
  // SQLite's message for the last failure; for a full disk (SQLITE_FULL, or
  // an I/O error whose system error is ENOSPC, as SQLite reports a -shm or
  // -wal it cannot grow) it names the folder whose disk is full.
  std::string LastError() const;
  // The result code of the last Execute that failed (a later ROLLBACK keeps it).
  int LastFailure() const { return lastFailure_; }
  void NoteFailure(int code) { lastFailure_ = code; }

 private:
  // sqlite3_open_v2 of name with flags, and the settings every connection has.
  bool OpenWith(const std::string& name, int flags, std::string& error);
  std::string Explained(std::string message) const;

  sqlite3* db_ = nullptr;
  int lastFailure_ = SQLITE_OK;
  std::string folder_;  // the folder of the file, for the operator
};

class SqliteStatement {
 public:
  SqliteStatement(const SqliteDatabase& db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  // Parameters count from 1. Text is stored as text, bytes as a blob.
  void BindText(int index, std::string_view text);
  void BindBlob(int index, std::string_view bytes);
  void BindInt(int index, std::int64_t value);
  void BindReal(int index, double value);
  void BindNull(int index);
  // Parameter index takes column of from's current row, whatever its type.
  void BindColumnOf(int index, const SqliteStatement& from, int column);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // True when the statement ran to its end.
  bool Run() { return Step() == SQLITE_DONE; }
  // False when the statement could not be prepared (the database's LastError says why).
  bool Prepared() const { return statement_ != nullptr; }
  // Ready to run again with new bindings.
  void Reset() {
    if (statement_ == nullptr) return;  // sqlite3_clear_bindings does not take a null statement
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

  int Columns() const { return sqlite3_column_count(statement_); }
  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  double Real(int column) const;
  // Text or blob bytes as stored.
  std::string Bytes(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};
