// A damaged ledger is never written again nor thrown away: it is moved aside
// as it is, and a new ledger at its path takes every board and image that can
// still be read from it, so that the station goes on recording, reporting and
// forwarding with nothing lost that could be read.
#pragma once

#include <string>

#include "ledger/sqlite_handles.h"

struct SetAside {
  bool moved = false;
  std::string keptAs;   // where the damaged file is now: PATH.damaged-YYYYMMDDTHHMMSSZ
  long boardsKept = 0;  // read from it into the new ledger
  long boardsLost = 0;  // rows that could not be read
  long imagesLost = 0;  // image rows that could not be read, or whose board could not
  std::string error;    // why it was not moved, or what stopped the copy
};

// The file starts as an SQLite database does: only such a file is taken for
// a damaged ledger (anything else given as the ledger is refused as it is).
bool LooksLikeSqlite(const std::string& path);

// Moves path and its -wal aside, side by side, when no other program has the
// ledger open (its -shm, which holds nothing of the records, is removed).
SetAside MoveDamagedLedgerAside(const std::string& path);

// Copies every board and image row that can be read from the damaged file
// into the ledger into (new ids, the rest as it was: forwarded or not,
// running or not), counting what could not be read.
void CopyReadableRows(SqliteDatabase& into, SetAside& aside);

// The first finding of a check, as one line.
std::string DamageWords(const std::string& damage);

// The words for the operator: what is damaged, where it is kept and what the
// new ledger holds, or why it stays where it is for now.
std::string DamageNotice(const std::string& path, const std::string& damage, const SetAside& aside);
