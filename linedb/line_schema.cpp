#include "linedb/line_schema.h"

#include <cstdlib>

namespace {

// Taken for the steps' transaction, so two stations that both find the
// tables missing or behind apply the steps one after the other, not into
// each other.
constexpr const char* kStepLock = "SELECT pg_advisory_xact_lock(7427416)";

// One row when the version table is there: whether this connection's role
// owns it (or is a member of its owner), so may apply the steps.
constexpr const char* kVersionTableOwner =
    "SELECT pg_has_role(relowner, 'USAGE') FROM pg_class WHERE oid = to_regclass('tamsolt_schema_version')";
constexpr const char* kVersionFound = "SELECT COALESCE(max(version), 0) FROM tamsolt_schema_version";

std::optional<int> VersionFound(PgConnection& db) {
  PgResult found = db.Exec(kVersionFound);
  if (!found) return std::nullopt;
  return std::atoi(PQgetvalue(found.get(), 0, 0));
}

std::string BehindText(int found) {
  std::string files;
  for (const LineSchemaStep& step : LineSchemaSteps()) {
    if (step.version > found) files += std::string(" -f ") + step.file;
  }
  return "the tables are at version " + std::to_string(found) + ", this program's are at " +
         std::to_string(LatestLineSchemaVersion()) +
         ": boards go without what the newer versions add until the tables' owner brings them up"
         " (as the owner: psql" + files + "; docs/ledger.md)";
}

}  // namespace

int LatestLineSchemaVersion() { return LineSchemaSteps().back().version; }

std::optional<LineSchema> EnsureLineSchema(PgConnection& db) {
  PgResult owner = db.Exec(kVersionTableOwner);
  if (!owner) return std::nullopt;
  const bool present = PQntuples(owner.get()) == 1;
  if (present) {
    const std::optional<int> found = VersionFound(db);
    if (!found) return std::nullopt;
    if (*found >= LatestLineSchemaVersion()) return LineSchema{*found, ""};
    if (PQgetvalue(owner.get(), 0, 0)[0] != 't') return LineSchema{*found, BehindText(*found)};
  }
  // Missing (a role that may not create them fails here), or behind and ours to bring up.
  if (!db.Exec("BEGIN")) return std::nullopt;
  bool applied = static_cast<bool>(db.Exec(kStepLock));
  // Another station may have made the tables or applied steps while this one waited for the lock.
  std::optional<int> found = 0;
  if (applied) {
    PgResult again = db.Exec(kVersionTableOwner);
    applied = static_cast<bool>(again);
    if (applied && PQntuples(again.get()) == 1) applied = (found = VersionFound(db)).has_value();
  }
  for (const LineSchemaStep& step : LineSchemaSteps()) {
    if (applied && step.version > *found) applied = static_cast<bool>(db.ExecScript(step.sql));
  }
  if (applied && db.Exec("COMMIT")) return LineSchema{LatestLineSchemaVersion(), ""};
  db.Rollback();
  return std::nullopt;
}
