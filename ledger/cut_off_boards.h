// Rows whose writer ended without closing them (killed, a power cut, the OOM
// killer): the next program that opens the ledger to write closes them for
// what they are, so that no board stays "running" for good and every board
// attempted reaches the line database.
#pragma once

#include <string>

#include "ledger/sqlite_handles.h"

// The word of a board whose writer died before its end exchange was answered.
inline constexpr char kCutOffWord[] = "cut off";

// Closes each running row whose writer is gone: done (0) when its device had
// answered the end exchange, else 10 "cut off", finished at the last moment
// its images tell, with the images as noted. A writer still running, or one
// this process cannot judge (another pid namespace, a row of an older
// version), is left. The number closed, -1 on a failure (said in error).
int CloseBoardsOfDeadWriters(SqliteDatabase& db, std::string& error);
