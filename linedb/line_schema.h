// The line database's tables (linedb/schema.sql), created when missing.
#pragma once

#include "linedb/pg_connection.h"

// The version schema.sql writes into tamsolt_schema_version.
inline constexpr int kLineSchemaVersion = 1;

// The text of linedb/schema.sql, built into the library.
extern const char* const kLineSchemaSql;

// Creates the tables when the version table is missing; false (db.Error())
// when that fails. A database that has them needs no rights beyond reading
// the version table, so a station may run as a role that only inserts.
bool EnsureLineSchema(PgConnection& db);
