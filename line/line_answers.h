// The line page's answers (API version 1, docs/line.md), each one JSON
// document built by the line database itself from what it holds: the
// stations and their slots, a span's yield, boards and a board's record, the
// recipes. Plain C++ over libpq; the service only passes them on.
#pragma once

#include <optional>
#include <string>

#include "linedb/pg_connection.h"

inline constexpr int kLineApiVersion = 1;
// A station whose heartbeat is older than this is silent.
inline constexpr int kSilentAfterSeconds = 30;

struct LineAnswer {
  int status = 200;  // 200, 400 (the question), 404 (no such board), 503 (the database)
  std::string json;  // the answer, or {"api":1,"error":"..."}
};

// Every station, running, silent or stopped, with its recipe version, its
// boards today and in the last hour, and its slots.
LineAnswer StationsAnswer(PgConnection& db);

// Boards written and failed per station and slot for the local days from
// `from` to `to` (YYYY-MM-DD, both included), failures by reason, boards per hour.
LineAnswer YieldAnswer(PgConnection& db, const std::string& from, const std::string& to);

// The newest boards by their start (at most limit, 1 to 500), of a station
// and slot when given; before (when given): a board's uuid (the boards
// listed after it: the next page) or a time (ISO 8601: started before it).
LineAnswer BoardsAnswer(PgConnection& db, const std::string& station, const std::string& slot, int limit,
                        const std::string& before = {});

// One board's record with its images; 404 when the line database has none by that uuid.
LineAnswer BoardAnswer(PgConnection& db, const std::string& uuid);

// Each recipe's active version, who activated it and when, and which
// stations write which version now.
LineAnswer RecipesAnswer(PgConnection& db);

// The answer for a question that cannot be asked ({"api":1,"error":text}).
LineAnswer Refusal(int status, const std::string& text);
