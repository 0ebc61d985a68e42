// The station's local ledger (SQLite), as the forwarder sees it: the finished
// boards not yet forwarded, their rows and images as values for the line
// database, and the mark that one has gone.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linedb/pg_connection.h"

// One board with its images, in the column order of the line database's
// inserts (see forward_backlog.cpp).
struct LedgerBoard {
  std::vector<PgValue> board;
  std::vector<std::vector<PgValue>> images;
};

class LedgerFile {
 public:
  // Opens an existing ledger; never creates one. Check Ok() / Error().
  LedgerFile(const std::string& path, bool readOnly);

  bool Ok() const { return db_ != nullptr; }
  std::string Error() const { return error_; }

  // Ids of the finished boards not yet forwarded, oldest first; empty with
  // Error() set when the query fails.
  std::vector<std::int64_t> UnforwardedBoards();
  std::optional<LedgerBoard> ReadBoard(std::int64_t id);
  // Sets forwarded_utc once (a second process that marked it first wins).
  bool MarkForwarded(std::int64_t id, const std::string& utc);
  // How many finished boards still wait; nothing when it cannot be counted.
  std::optional<std::int64_t> CountUnforwarded();

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

  Statement Prepare(const char* sql);
  bool Failed(const char* what);

  std::unique_ptr<sqlite3, Close> db_;
  std::string path_;
  std::string error_;
};

// The current time as the ledger writes it: 2026-12-08T14:03:07.125Z.
std::string UtcNowIso8601();
