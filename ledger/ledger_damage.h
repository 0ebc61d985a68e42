// Finding a damaged ledger (a page spoiled by a failing disk, a copy cut
// short, a crash on a disk that lies about its writes) before it is written.
#pragma once

#include <string>

#include "ledger/sqlite_handles.h"

// SQLite's word for a damaged file: SQLITE_CORRUPT or SQLITE_NOTADB, of any
// extended code.
bool IsDamage(int code);

// The cheap check every program makes when it opens a ledger: the pages a
// writer goes through (the schema, the newest boards and images and their
// indexes, the boards waiting for the line database), a few milliseconds
// whatever the ledger's size. "" when they read, else SQLite's words.
std::string CheckWhereWritten(const SqliteDatabase& db);

// Every page read (PRAGMA quick_check): "" when sound, else the first
// problems found, one a line. About 0.3 s for 100,000 boards.
std::string CheckEveryPage(const SqliteDatabase& db);
