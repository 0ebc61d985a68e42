// The line database's tables as a list of steps, one per version: step 1
// creates them (linedb/schema.sql), each later one changes them
// (linedb/schema_vN.sql). Every step is idempotent and records its version
// in tamsolt_schema_version, so the same files run with psql by the tables'
// owner, or by a station that may, bring any version to the latest.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "linedb/pg_connection.h"

struct LineSchemaStep {
  int version;
  const char* file;  // as it is in the source tree, e.g. "linedb/schema_v2.sql"
  const char* sql;
};

// Built from the files listed in linedb/CMakeLists.txt, in version order.
std::span<const LineSchemaStep> LineSchemaSteps();
// The version of the last step: what this program writes.
int LatestLineSchemaVersion();

struct LineSchema {
  // The version the tables are at once EnsureLineSchema returns: which
  // columns the inserts may use.
  int version = 0;
  // Empty, or, when the tables are older than this program's and this
  // connection's role may not change them (a station's insert-only role):
  // what is left out and how the tables' owner brings them up.
  std::string behind;
};

// Applies the steps above the version the tables are at (all of them when
// there are none) when this connection's role owns the tables, or may create
// them, in one transaction that two stations cannot run into each other. A
// role that may not (it reads the version only) keeps the version found.
// Nothing (db.Error()) when the version cannot be read or a step fails.
std::optional<LineSchema> EnsureLineSchema(PgConnection& db);
