// The line page's answers as a table of cases against the test PostgreSQL:
// what each question gives, and what it refuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "line/line_answers.h"
#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"
#include "tests/linedb/line_server.h"

namespace {

using Json = nlohmann::json;

// A line database with two stations, their slots and boards, a recipe whose
// active version one station is behind, and the page's reading role.
std::string MadeLine() {
  const std::string url = FreshLineDatabase();
  StationRoleOnVersion1(url);
  PgConnection admin(url);
  EXPECT_TRUE(EnsureLineSchema(admin)) << admin.Error();
  EXPECT_TRUE(admin.ExecScript("DO $$ BEGIN CREATE ROLE tamsolt_line_reader LOGIN;"
                               " EXCEPTION WHEN duplicate_object OR unique_violation THEN END $$"))
      << admin.Error();
  std::stringstream rights;
  rights << std::ifstream(TAMSOLT_SOURCE_DIR "/linedb/line_reader_role.sql").rdbuf();
  EXPECT_TRUE(admin.ExecScript(rights.str().c_str())) << admin.Error();
  EXPECT_TRUE(admin.ExecScript(R"sql(
    INSERT INTO recipes (name, version, created_by) VALUES ('line3', 1, 'qe'), ('line3', 2, 'qe');
    INSERT INTO recipe_rows (name, version, item, enabled) SELECT 'line3', v, 'RCDB', false FROM generate_series(1, 2) v;
    ALTER TABLE recipe_active DISABLE TRIGGER USER;
    INSERT INTO recipe_active (name, version, activated_by) VALUES ('line3', 2, 'qe');
    ALTER TABLE recipe_active ENABLE TRIGGER USER;
    INSERT INTO line_stations (station, program_version, started_utc, heartbeat_utc, recipe, recipe_version,
                               recipe_away, stopped)
      VALUES ('st-a', '1.1.0', now(), now(), 'line3', 1, false, false),
             ('st-b', '1.1.0', now(), now() - interval '1 minute', 'line3', 2, true, false),
             ('st-c', '1.1.0', now(), now() - interval '1 minute', NULL, NULL, false, true);
    INSERT INTO line_slots (station, slot, name, state, percent, item, since_utc)
      VALUES ('st-a', '1-1.2', '<i>A2</i>', 'writing', 40, 'RCDB', now()), ('st-a', '1-1.1', 'A1', 'done', 0, '', now());
    INSERT INTO boards (uuid, started_utc, finished_utc, seconds, station, slot, device, program, version, operator,
                        settings_path, settings_sha256, outcome_code, outcome, message)
      VALUES ('00000000-0000-4000-8000-000000000001', now(), now(), 3, 'st-a', '1-1.1', '001:002', 'tamsolt-cli',
              '1.1.0', 'op', 'x', 'aa', 0, 'done', ''),
             ('00000000-0000-4000-8000-000000000002', now(), now(), 1, 'st-a', '1-1.2', '001:003', 'tamsolt-cli',
              '1.1.0', 'op', 'x', 'aa', 7, 'begin refused', 'the device refused the begin');
    INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, result)
      SELECT id, 'RCDB', '\x2f696d672fff2e726462'::bytea, 1060, repeat('ab', 32), false, 'written' FROM boards
      WHERE uuid = '00000000-0000-4000-8000-000000000001';
  )sql")) << admin.Error();
  return url.substr(0, url.find(" user=")) + " user=tamsolt_line_reader";
}

Json Read(const LineAnswer& answer) { return Json::parse(answer.json); }

}  // namespace

TEST(LineAnswers, EachQuestionGivesWhatTheLineDatabaseHolds) {
  const std::string url = MadeLine();
  PgConnection db(url);
  ASSERT_TRUE(db.Ok()) << db.Error();

  const Json stations = Read(StationsAnswer(db));
  EXPECT_EQ(stations["api"], 1);
  ASSERT_EQ(stations["stations"].size(), 3u);
  const Json& a = stations["stations"][0];
  EXPECT_EQ(a["station"], "st-a");
  EXPECT_EQ(a["state"], "running");
  EXPECT_EQ(a["recipe_version"], 1);
  EXPECT_EQ(a["active_version"], 2);  // behind: the page marks it
  EXPECT_EQ(a["written_today"], 1);
  EXPECT_EQ(a["failed_today"], 1);
  ASSERT_EQ(a["slots"].size(), 2u);
  EXPECT_EQ(a["slots"][0]["slot"], "1-1.1");  // in port order
  EXPECT_EQ(a["slots"][1]["name"], "<i>A2</i>");
  EXPECT_EQ(a["slots"][1]["percent"], 40);
  EXPECT_EQ(a["recipe_away"], false);
  EXPECT_EQ(stations["stations"][1]["state"], "silent");
  EXPECT_EQ(stations["stations"][1]["recipe_away"], true);  // from its image cache
  EXPECT_EQ(stations["stations"][2]["state"], "stopped");

  const Json board = Read(BoardAnswer(db, "00000000-0000-4000-8000-000000000001"));
  EXPECT_EQ(board["board"]["outcome"], "done");
  ASSERT_EQ(board["images"].size(), 1u);
  std::string digest;
  for (int i = 0; i < 32; ++i) digest += "ab";
  EXPECT_EQ(board["images"][0]["sha256"], digest);
  EXPECT_EQ(board["images"][0]["file"], "/img/\\377.rdb");  // a byte that is not UTF-8, escaped

  const Json boards = Read(BoardsAnswer(db, "st-a", "1-1.2", 10));
  ASSERT_EQ(boards["boards"].size(), 1u);
  EXPECT_EQ(boards["boards"][0]["message"], "the device refused the begin");
  // Newest first; the next page after a board holds the one that started at the same moment.
  const Json both = Read(BoardsAnswer(db, "st-a", "", 10));
  ASSERT_EQ(both["boards"].size(), 2u);
  const Json next = Read(BoardsAnswer(db, "st-a", "", 1, both["boards"][0]["uuid"]));
  ASSERT_EQ(next["boards"].size(), 1u);
  EXPECT_EQ(next["boards"][0]["uuid"], both["boards"][1]["uuid"]);
  EXPECT_EQ(Read(BoardsAnswer(db, "", "", 10, "2026-01-01T00:00:00Z"))["boards"].size(), 0u);

  const std::string today = Read(StationsAnswer(db))["now_utc"].get<std::string>().substr(0, 10);
  const Json yield = Read(YieldAnswer(db, today, today));
  EXPECT_EQ(yield["written"], 1);
  EXPECT_EQ(yield["failed"], 1);
  EXPECT_EQ(yield["failures_by_reason"][0]["reason"], "the device refused the begin");
  EXPECT_EQ(yield["slots"].size(), 2u);

  const Json recipes = Read(RecipesAnswer(db));
  ASSERT_EQ(recipes["recipes"].size(), 1u);
  EXPECT_EQ(recipes["recipes"][0]["active_version"], 2);
  EXPECT_EQ(recipes["recipes"][0]["stations"].size(), 2u);
  EXPECT_EQ(recipes["recipes"][0]["stations"][0]["version"], 1);
  EXPECT_EQ(recipes["recipes"][0]["stations"][1]["away"], true);
}

TEST(LineAnswers, AQuestionThatCannotBeAskedIsRefusedAndTheRoleChangesNothing) {
  const std::string url = MadeLine();
  PgConnection db(url);
  const struct {
    LineAnswer answer;
    int status;
    const char* says;
  } cases[] = {
      {BoardAnswer(db, "'; DELETE FROM boards; --"), 400, "uuid"},
      {BoardAnswer(db, "00000000-0000-4000-8000-00000000000f"), 404, "no board"},
      {BoardsAnswer(db, "", "", 0), 400, "limit"},
      {BoardsAnswer(db, "", "", 501), 400, "limit"},
      {YieldAnswer(db, "2026-12-01", "yesterday"), 400, "YYYY-MM-DD"},
      {BoardsAnswer(db, "", "", 10, "yesterday"), 400, "uuid or a time"},
      {BoardsAnswer(db, "", "", 10, "2026-02-31"), 400, "before"},
      {BoardsAnswer(db, "", "", 10, "00000000-0000-4000-8000-00000000000f"), 404, "no board"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.answer.status, c.status) << c.answer.json;
    EXPECT_NE(Read(c.answer)["error"].get<std::string>().find(c.says), std::string::npos) << c.answer.json;
  }
  // Its role may only read: no board added or changed, no slot, no stored image piece.
  PgConnection plain(url);
  EXPECT_FALSE(plain.Exec("INSERT INTO boards (uuid, started_utc, finished_utc, station, slot, device, program,"
                          " version, operator, settings_path, settings_sha256) VALUES (gen_random_uuid(), now(),"
                          " now(), 's', 's', 'd', 'p', 'v', 'o', 'x', 'aa')"));
  EXPECT_FALSE(plain.Exec("UPDATE boards SET outcome = 'done'"));
  EXPECT_FALSE(plain.Exec("UPDATE line_slots SET state = 'done'"));
  EXPECT_FALSE(plain.Exec("SELECT count(*) FROM recipe_image_pieces"));
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM boards"), std::vector<std::string>{"2"});
}
