#include "linedb/line_schema.h"

namespace {
// Taken for the creation's transaction, so two stations that both find the
// tables missing create them one after the other, not into each other.
constexpr const char* kCreationLock = "SELECT pg_advisory_xact_lock(7427416)";
}  // namespace

bool EnsureLineSchema(PgConnection& db) {
  PgResult present = db.Exec("SELECT to_regclass('tamsolt_schema_version') IS NOT NULL");
  if (!present) return false;
  if (PQgetvalue(present.get(), 0, 0)[0] == 't') return true;
  if (!db.Exec("BEGIN")) return false;
  if (db.Exec(kCreationLock) && db.ExecScript(kLineSchemaSql) && db.Exec("COMMIT")) return true;
  db.Rollback();
  return false;
}
