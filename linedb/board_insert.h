// A finished board and its images into the line database, in one
// transaction, with the columns the tables' version has.
#pragma once

#include "linedb/line_board.h"
#include "linedb/pg_connection.h"

enum class LineInsert {
  kStored,   // committed, or its uuid was already there (nothing inserted)
  kRefused,  // refused for this board's own data (a malformed time or uuid): the others may go
  kFailed,   // the connection, the rights or a wait failed: no other board will go either
};

// schemaVersion: the version the tables are at (EnsureLineSchema); a column
// of a later version is left out, so a station whose line database was not
// brought up yet keeps forwarding. A board whose uuid is already there (sent
// before, or by another process just now) inserts nothing and is kStored.
LineInsert InsertLineBoard(PgConnection& db, const LineBoard& board, int schemaVersion);
