#include "linedb/board_insert.h"

#include <charconv>
#include <string>
#include <vector>

namespace {

// A column of an insert, sent only when the tables are at version since or later.
struct Column {
  const char* name;
  PgValue value;
  int since = 1;
};

PgValue Text(const std::optional<std::string>& text) {
  return text ? PgValue::Text(*text) : PgValue::Null();
}

PgValue Number(std::int64_t number) { return PgValue::Text(std::to_string(number)); }

PgValue Real(const std::optional<double>& number) {
  if (!number) return PgValue::Null();
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, *number).ptr;  // shortest exact form
  return PgValue::Text(std::string(text, end));
}

PgValue Boolean(bool value) { return PgValue::Text(value ? "true" : "false"); }

// INSERT INTO table (names...) VALUES ($1, ...) + tail, with the values of
// the columns the version has. Names are this file's constants, never input.
PgResult Insert(PgConnection& db, const char* table, const std::vector<Column>& columns, int version,
                const char* tail) {
  std::string names;
  std::string places;
  std::vector<PgValue> values;
  for (const Column& column : columns) {
    if (column.since > version) continue;
    values.push_back(column.value);
    names += (names.empty() ? "" : ", ") + std::string(column.name);
    places += (places.empty() ? "$" : ", $") + std::to_string(values.size());
  }
  const std::string sql = std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + places + ")" + tail;
  return db.Exec(sql.c_str(), values);
}

std::vector<Column> BoardColumns(const LineBoard& b) {
  return {
      {"uuid", PgValue::Text(b.uuid)},
      {"started_utc", PgValue::Text(b.startedUtc)},
      {"finished_utc", PgValue::Text(b.finishedUtc)},
      {"seconds", Real(b.seconds)},
      {"station", PgValue::Text(b.station)},
      {"slot", PgValue::Text(b.slot)},
      {"device", PgValue::Text(b.device)},
      {"program", PgValue::Text(b.program)},
      {"version", PgValue::Text(b.version)},
      {"operator", PgValue::Text(b.operatorName)},
      {"settings_path", PgValue::Bytes(b.settingsPath)},
      {"settings_sha256", PgValue::Text(b.settingsSha256)},
      {"outcome_code", b.outcomeCode ? Number(*b.outcomeCode) : PgValue::Null()},
      {"outcome", Text(b.outcome)},
      {"message", PgValue::Text(b.message)},
      {"log_lost", Boolean(b.logLost), 2},
      {"recipe", PgValue::Text(b.recipe), 3},
      {"recipe_version", b.recipeVersion ? Number(*b.recipeVersion) : PgValue::Null(), 3},
  };
}

std::vector<Column> ImageColumns(const PgValue& boardId, const LineImage& i) {
  return {
      {"board_id", boardId},
      {"kind", PgValue::Text(i.kind)},
      {"path", PgValue::Bytes(i.path)},
      {"bytes", Number(i.bytes)},
      {"sha256", PgValue::Text(i.sha256)},
      {"pinned", Boolean(i.pinned)},
      {"started_utc", Text(i.startedUtc)},
      {"finished_utc", Text(i.finishedUtc)},
      {"result", PgValue::Text(i.result)},
  };
}

// A refusal of this board's own data (a malformed time or uuid, a missing
// value): SQLSTATE classes 22 and 23. Anything else would refuse every board.
bool RefusesOnlyThisBoard(const std::string& state) {
  return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0;
}

}  // namespace

LineInsert InsertLineBoard(PgConnection& db, const LineBoard& board, int schemaVersion) {
  if (!db.Exec("BEGIN")) return LineInsert::kFailed;
  PgResult inserted = Insert(db, "boards", BoardColumns(board), schemaVersion,
                             " ON CONFLICT (uuid) DO NOTHING RETURNING id");
  bool stored = static_cast<bool>(inserted);
  if (stored && PQntuples(inserted.get()) == 1) {
    const PgValue boardId = PgValue::Text(PQgetvalue(inserted.get(), 0, 0));
    for (const LineImage& image : board.images) {
      if (!Insert(db, "images", ImageColumns(boardId, image), schemaVersion, "")) {
        stored = false;
        break;
      }
    }
  }
  if (stored && db.Exec("COMMIT")) return LineInsert::kStored;
  const bool onlyThisBoard = RefusesOnlyThisBoard(db.LastState());
  db.Rollback();
  return onlyThisBoard && db.Ok() ? LineInsert::kRefused : LineInsert::kFailed;
}
