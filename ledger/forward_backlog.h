// Store and forward: the local ledger stays the source of truth; its finished
// boards go to the line database (PostgreSQL) when it can be reached, each
// exactly once, and are then marked forwarded in the ledger. The ledger is
// read through ledger/unsent_boards.h, the line database written through
// linedb/: this is the only code that knows both.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "linedb/pg_connection.h"  // PgWaitLimits

// The longest a host's end waits for the line database: the forward after a
// single run, and a forwarder's forward under way when its host closes. The
// statement then under way is cancelled and the connection closed, which
// takes no time to speak of (the cancel goes in the background).
inline constexpr std::chrono::seconds kLineDbHoldTime{5};

struct ForwardResult {
  std::int64_t forwarded = 0;  // boards now in the line database and marked in the ledger
  std::int64_t left = -1;      // finished boards still waiting; -1 when the ledger cannot be read
  // Empty, or the first thing that kept boards back, for the operator: where
  // (the ledger's path, or the line database as host/db/user, never a
  // password) and libpq's or SQLite's own message.
  std::string error;
  // limits.stopFd became readable: the forward ended there, the rest stays queued.
  bool stopped = false;
  // Empty, or a fact the station's log should tell once though nothing was
  // kept back: the line database's tables are older than this program's and
  // this role may not bring them up (what is left out, and how to mend it).
  std::string notice;
};

// Sends every finished, unforwarded board of the ledger at ledgerPath, with
// its images, oldest first, to the line database named by connectionString
// (libpq's format; a password comes from ~/.pgpass or PGPASSWORD). Each board
// goes in one transaction that inserts nothing when its uuid is already
// there, and is marked in the ledger only once committed, so a cut send or
// two processes forwarding at once store it once. Tables missing or of an
// older version are brought up first when the role may
// (linedb/line_schema.h); a role that may not forwards with the columns the
// tables have, and notice says so. A database that cannot be reached or
// refuses stops the call at once (after at most the 2 s connect time-out,
// name lookup included) and leaves the boards queued; a board it refuses for
// its data stays queued while the others go. A statement unanswered for 10 s
// (kLineDbReplyTime), limits.deadline or a readable limits.stopFd ends the
// call, the rest queued. Blocks: call it off the transfer's thread. Opens no
// connection when nothing waits.
ForwardResult ForwardBacklog(const std::string& ledgerPath, const std::string& connectionString,
                             const PgWaitLimits& limits = {});

// The number of finished boards not yet forwarded (for reports); -1 with
// error set when the ledger cannot be read.
std::int64_t CountBacklog(const std::string& ledgerPath, std::string* error);
