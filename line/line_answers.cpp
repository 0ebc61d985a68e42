#include "line/line_answers.h"

#include <nlohmann/json.hpp>

#include <regex>

namespace {

// A time as every answer gives it: ISO 8601, UTC, milliseconds.
std::string Iso(const std::string& column) {
  return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}

// Runs a statement whose one row and column is the answer's JSON text.
LineAnswer Ask(PgConnection& db, const std::string& sql, const std::vector<PgValue>& values = {}) {
  PgResult result = db.Exec(sql.c_str(), values);
  if (!result || PQntuples(result.get()) != 1 || PQgetisnull(result.get(), 0, 0)) {
    return Refusal(503, "the line database does not answer: " + db.Error());
  }
  return {200, PQgetvalue(result.get(), 0, 0)};
}

const std::string& StationsSql() {
  static const std::string sql =
      "SELECT json_build_object('api', 1, 'now_utc', " + Iso("now()") +
      ", 'silent_after_seconds', " + std::to_string(kSilentAfterSeconds) +
      ", 'stations', COALESCE((SELECT json_agg(json_build_object("
      "'station', s.station, 'program_version', s.program_version,"
      " 'started_utc', " + Iso("s.started_utc") + ", 'heartbeat_utc', " + Iso("s.heartbeat_utc") +
      ", 'heartbeat_age_seconds', round(extract(epoch FROM now() - s.heartbeat_utc)::numeric, 1),"
      " 'state', CASE WHEN s.stopped THEN 'stopped'"
      " WHEN now() - s.heartbeat_utc > interval '" + std::to_string(kSilentAfterSeconds) + " s' THEN 'silent'"
      " ELSE 'running' END,"
      " 'recipe', s.recipe, 'recipe_version', s.recipe_version, 'recipe_away', s.recipe_away,"
      " 'active_version', a.version,"
      " 'written_today', (SELECT count(*) FROM boards b WHERE b.station = s.station"
      "   AND b.started_utc >= date_trunc('day', now()) AND b.outcome_code = 0),"
      " 'failed_today', (SELECT count(*) FROM boards b WHERE b.station = s.station"
      "   AND b.started_utc >= date_trunc('day', now()) AND b.outcome_code <> 0),"
      // Started in the last hour: the station's own index (station, started_utc) answers it.
      " 'boards_last_hour', (SELECT count(*) FROM boards b WHERE b.station = s.station"
      "   AND b.started_utc >= now() - interval '1 hour'),"
      " 'slots', COALESCE((SELECT json_agg(json_build_object('slot', l.slot, 'name', l.name, 'state', l.state,"
      " 'present', l.present, 'taken', l.taken, 'not_taken', l.not_taken, 'item', l.item, 'percent', l.percent,"
      " 'reason', l.reason, 'reason_kind', l.reason_kind, 'check', l.check_slot, 'text', l.text,"
      " 'since_utc', " + Iso("l.since_utc") + ") ORDER BY l.slot) FROM line_slots l WHERE l.station = s.station),"
      " '[]'::json)) ORDER BY s.station)"
      " FROM line_stations s LEFT JOIN recipe_active a ON a.name = s.recipe), '[]'::json))";
  return sql;
}

// The board's columns as every list gives them.
std::string BoardObject(const std::string& b) {
  return "json_build_object('uuid', " + b + ".uuid, 'station', " + b + ".station, 'slot', " + b +
         ".slot, 'started_utc', " + Iso(b + ".started_utc") + ", 'finished_utc', " + Iso(b + ".finished_utc") +
         ", 'seconds', " + b + ".seconds, 'outcome_code', " + b + ".outcome_code, 'outcome', " + b +
         ".outcome, 'message', " + b + ".message, 'operator', " + b + ".operator, 'program', " + b +
         ".program, 'version', " + b + ".version, 'recipe', " + b + ".recipe, 'recipe_version', " + b +
         ".recipe_version)";
}

bool IsUuid(const std::string& text) {
  static const std::regex uuid("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
  return std::regex_match(text, uuid);
}

bool IsDay(const std::string& text) {
  static const std::regex day("[0-9]{4}-[0-9]{2}-[0-9]{2}");
  return std::regex_match(text, day);
}

}  // namespace

LineAnswer Refusal(int status, const std::string& text) {
  return {status, nlohmann::json{{"api", kLineApiVersion}, {"error", text}}.dump(
                      -1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

LineAnswer StationsAnswer(PgConnection& db) { return Ask(db, StationsSql()); }

LineAnswer YieldAnswer(PgConnection& db, const std::string& from, const std::string& to) {
  if (!IsDay(from) || !IsDay(to)) return Refusal(400, "from and to are local days: YYYY-MM-DD");
  static const std::string sql =
      "WITH span AS (SELECT * FROM boards WHERE started_utc >= $1::date"
      "   AND started_utc < $2::date + 1)"
      " SELECT json_build_object('api', 1, 'from', $1::text, 'to', $2::text,"
      " 'written', (SELECT count(*) FROM span WHERE outcome_code = 0),"
      " 'failed', (SELECT count(*) FROM span WHERE outcome_code <> 0),"
      " 'slots', COALESCE((SELECT json_agg(json_build_object('station', station, 'slot', slot,"
      "   'written', written, 'failed', failed) ORDER BY station, slot) FROM (SELECT station, slot,"
      "   count(*) FILTER (WHERE outcome_code = 0) AS written,"
      "   count(*) FILTER (WHERE outcome_code <> 0) AS failed FROM span GROUP BY station, slot) p), '[]'::json),"
      " 'failures_by_reason', COALESCE((SELECT json_agg(json_build_object('reason', reason, 'boards', n)"
      "   ORDER BY n DESC, reason) FROM (SELECT CASE WHEN message <> '' THEN message ELSE COALESCE(outcome, '')"
      "   END AS reason, count(*) AS n FROM span WHERE outcome_code <> 0 GROUP BY 1) r), '[]'::json),"
      " 'per_hour', COALESCE((SELECT json_agg(json_build_object('hour', " + Iso("hour") +
      ", 'boards', n) ORDER BY hour) FROM (SELECT date_trunc('hour', finished_utc) AS hour, count(*) AS n"
      "   FROM span GROUP BY 1) h), '[]'::json))";
  return Ask(db, sql, {PgValue::Text(from), PgValue::Text(to)});
}

LineAnswer BoardsAnswer(PgConnection& db, const std::string& station, const std::string& slot, int limit,
                        const std::string& before) {
  if (limit < 1 || limit > 500) return Refusal(400, "limit is 1 to 500");
  // A time as the answers give them, or with its own offset; a date alone is its midnight UTC.
  static const std::regex time(
      R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2}(\.\d{1,6})?)?(Z|[+-]\d{2}(:?\d{2})?)?)?)");
  const bool afterBoard = IsUuid(before);
  if (!before.empty() && !afterBoard && !std::regex_match(before, time)) {
    return Refusal(400, "before is a board's uuid or a time (2026-12-09T19:00:27.496Z)");
  }
  // Newest first by their start (each station's own index). After a board:
  // the boards listed after it, none lost or repeated however close their starts.
  static const std::string sql =
      "SELECT json_build_object('api', 1, 'boards', COALESCE(json_agg(" + BoardObject("b") +
      " ORDER BY b.started_utc DESC, b.id DESC), '[]'::json)), (SELECT count(*) FROM boards WHERE uuid = "
      "NULLIF($5, '')::uuid) FROM (SELECT * FROM boards"
      " WHERE ($1 = '' OR station = $1) AND ($2 = '' OR slot = $2)"
      " AND ($4 = '' OR started_utc < NULLIF($4, '')::timestamptz)"
      " AND ($5 = '' OR (started_utc, id) < (SELECT started_utc, id FROM boards WHERE uuid = NULLIF($5, '')::uuid))"
      " ORDER BY started_utc DESC, id DESC LIMIT $3::integer) b";
  PgResult result =
      db.Exec(sql.c_str(), {PgValue::Text(station), PgValue::Text(slot), PgValue::Text(std::to_string(limit)),
                            PgValue::Text(afterBoard ? "" : before), PgValue::Text(afterBoard ? before : "")});
  if (!result) {
    // A time of the right form that is none (the 31st of February).
    if (db.Ok() && !before.empty()) return Refusal(400, "before: " + db.Error());
    return Refusal(503, "the line database does not answer: " + db.Error());
  }
  if (afterBoard && std::string(PQgetvalue(result.get(), 0, 1)) == "0") {
    return Refusal(404, "the line database has no board " + before);
  }
  return {200, PQgetvalue(result.get(), 0, 0)};
}

LineAnswer BoardAnswer(PgConnection& db, const std::string& uuid) {
  if (!IsUuid(uuid)) return Refusal(400, "a board is named by its uuid");
  // The file names are the bytes the station had: shown as text, bytes that are not UTF-8 escaped.
  static const std::string sql =
      "SELECT json_build_object('api', 1, 'board', " + BoardObject("b") +
      ", 'images', COALESCE((SELECT json_agg(json_build_object('kind', i.kind,"
      " 'file', encode(i.path, 'escape'), 'bytes', i.bytes, 'sha256', i.sha256, 'pinned', i.pinned,"
      " 'result', i.result) ORDER BY i.id) FROM images i WHERE i.board_id = b.id), '[]'::json))"
      " FROM boards b WHERE b.uuid = $1::uuid";
  PgResult result = db.Exec(sql.c_str(), {PgValue::Text(uuid)});
  if (!result) return Refusal(503, "the line database does not answer: " + db.Error());
  if (PQntuples(result.get()) == 0) return Refusal(404, "the line database has no board " + uuid);
  return {200, PQgetvalue(result.get(), 0, 0)};
}

LineAnswer RecipesAnswer(PgConnection& db) {
  static const std::string sql =
      "SELECT json_build_object('api', 1, 'recipes', COALESCE((SELECT json_agg(json_build_object("
      "'name', a.name, 'active_version', a.version, 'activated_utc', " + Iso("a.activated_utc") +
      ", 'activated_by', a.activated_by, 'stations', COALESCE((SELECT json_agg(json_build_object("
      "'station', s.station, 'version', s.recipe_version, 'away', s.recipe_away) ORDER BY s.station)"
      " FROM line_stations s WHERE s.recipe = a.name), '[]'::json)) ORDER BY a.name)"
      " FROM recipe_active a), '[]'::json))";
  return Ask(db, sql);
}
