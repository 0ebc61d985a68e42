// The ledger forwarded to the line database: each finished board arrives once
// with its images, whatever happens to the database or the send.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ledger_builder.h"
#include "line_server.h"
#include "ledger/forward_backlog.h"
#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"

namespace {

std::vector<std::string> LineUuids(const std::string& url) {
  return QueryRows(url, "SELECT uuid FROM boards ORDER BY uuid");
}

std::vector<std::string> Uuids(std::initializer_list<int> numbers) {
  std::vector<std::string> out;
  for (int n : numbers) out.push_back(TestLedger::Uuid(n));
  return out;
}

std::string LocalCount(TestLedger& ledger, const char* where) {
  return ledger.Column(std::string("SELECT count(*) FROM boards WHERE ") + where).at(0);
}

}  // namespace

TEST(ForwardBacklog, FinishedBoardsArriveWithTheirImagesAndDigests) {
  const std::string url = FreshLineDatabase();
  TestLedger ledger;
  const std::string oddPath = std::string("/share/it's; line\xff\xfe 3.ini");
  ledger.AddBoard(1);
  ledger.AddBoard(2, true, oddPath);
  ledger.AddBoard(3, false);  // still being written: not yet
  ledger.Exec("UPDATE boards SET log_lost = 1 WHERE id = 2");  // written, its log file's lines lost
  ledger.Exec("UPDATE boards SET recipe = 'line3', recipe_version = 7 WHERE id = 2");

  ForwardResult result = ForwardBacklog(ledger.Path(), url);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.notice, "");
  EXPECT_EQ(result.forwarded, 2);
  EXPECT_EQ(result.left, 0);
  // Oldest first (the line database numbers them as they come), each with its lost log and recipe.
  EXPECT_EQ(QueryRows(url, "SELECT uuid, log_lost, recipe, recipe_version FROM boards ORDER BY id"),
            (std::vector<std::string>{TestLedger::Uuid(1) + "|f||", TestLedger::Uuid(2) + "|t|line3|7"}));
  EXPECT_EQ(LocalCount(ledger, "forwarded_utc IS NOT NULL AND id IN (1, 2)"), "2");
  EXPECT_EQ(LocalCount(ledger, "forwarded_utc IS NULL AND id = 3"), "1");

  // Every column of a board, the path byte for byte.
  EXPECT_EQ(QueryRows(url,
                      "SELECT to_char(started_utc AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS'),"
                      " to_char(finished_utc AT TIME ZONE 'UTC', 'HH24:MI:SS.MS'), seconds, station,"
                      " slot, device, program, version, operator, encode(settings_path, 'hex'),"
                      " settings_sha256, outcome_code, outcome, message FROM boards b"
                      " WHERE uuid = '" + TestLedger::Uuid(2) + "'"),
            std::vector<std::string>{"2026-12-08 14:03:07.125|14:03:09.625|2.5|station-7|1-1.3|"
                                     "001:004|tamsolt-cli|1.0.8|op'; drop|"
                                     "2f73686172652f69742773"
                                     "3b206c696e65fffe20332e696e69|" +
                                     TestLedger::Digest(2, 99) + "|0|done|"});
  // Nine images each, on their own board, with their digests and results.
  const std::vector<std::string> images = QueryRows(
      url,
      "SELECT b.uuid, i.kind, convert_from(i.path, 'UTF8'), i.bytes, i.sha256, i.pinned, i.result,"
      " i.started_utc IS NULL FROM images i JOIN boards b ON b.id = i.board_id ORDER BY b.uuid, i.id");
  ASSERT_EQ(images.size(), 18u);
  EXPECT_EQ(images[0], TestLedger::Uuid(1) + "|BOOT|/share/images/BOOT.bin|1000|" +
                           TestLedger::Digest(1, 0) + "|f|written|f");
  EXPECT_EQ(images[17], TestLedger::Uuid(2) + "|TDB|/share/images/TDB.bin|1008|" +
                            TestLedger::Digest(2, 8) + "|f|not reached|t");
  EXPECT_EQ(images[10], TestLedger::Uuid(2) + "|HOST|/share/images/HOST.bin|1001|" +
                            TestLedger::Digest(2, 1) + "|t|written|f");

  // The third board once it is finished; nothing goes twice.
  ledger.Exec("UPDATE boards SET finished_utc = '2026-12-08T14:05:00Z', outcome_code = 8 WHERE id = 3");
  std::string error;
  EXPECT_EQ(CountBacklog(ledger.Path(), &error), 1) << error;
  result = ForwardBacklog(ledger.Path(), url);
  EXPECT_EQ(result.forwarded, 1);
  EXPECT_EQ(result.left, 0);
  EXPECT_EQ(LineUuids(url), Uuids({1, 2, 3}));
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM images"), std::vector<std::string>{"27"});
  EXPECT_EQ(QueryRows(url, "SELECT version FROM tamsolt_schema_version ORDER BY 1"),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

TEST(ForwardBacklog, OutageKeepsTheBacklogAndItGoesOnceWhenTheDatabaseIsBack) {
  const std::string url = FreshLineDatabase();
  TestLedger ledger;
  for (int n = 1; n <= 3; ++n) ledger.AddBoard(n);

  SwitchableServer server;  // down
  const std::string station = server.Through(url);
  ForwardResult result = ForwardBacklog(ledger.Path(), station);
  EXPECT_NE(result.error.find("line database (host="), std::string::npos) << result.error;
  EXPECT_EQ(result.forwarded, 0);
  EXPECT_EQ(result.left, 3);
  EXPECT_EQ(LocalCount(ledger, "forwarded_utc IS NULL"), "3");

  // Boards finished during the outage join the backlog.
  ledger.AddBoard(4);
  server.Up();
  result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.forwarded, 4);
  EXPECT_EQ(result.left, 0);
  EXPECT_EQ(LineUuids(url), Uuids({1, 2, 3, 4}));

  // A send cut after the database committed but before the ledger was marked:
  // sent again, stored once.
  ledger.Exec("UPDATE boards SET forwarded_utc = NULL WHERE id IN (2, 4)");
  result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.forwarded, 2);
  EXPECT_EQ(result.left, 0);
  EXPECT_EQ(LineUuids(url), Uuids({1, 2, 3, 4}));
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM images"), std::vector<std::string>{"36"});
}

TEST(ForwardBacklog, TwoProcessesForwardingAtOnceStoreEachBoardOnce) {
  const std::string url = FreshLineDatabase();  // no tables yet: both create them
  TestLedger ledger;
  constexpr int kBoards = 30;
  for (int n = 1; n <= kBoards; ++n) ledger.AddBoard(n);

  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char byte;
      close(go[1]);
      if (read(go[0], &byte, 1) != 0) _exit(3);  // both start when the pipe closes
      const ForwardResult result = ForwardBacklog(ledger.Path(), url);
      _exit(result.error.empty() && result.left == 0 ? 0 : 1);
    }
  }
  close(go[0]);
  close(go[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(QueryRows(url, "SELECT count(*), count(DISTINCT uuid) FROM boards"),
            std::vector<std::string>{std::to_string(kBoards) + "|" + std::to_string(kBoards)});
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM images"), std::vector<std::string>{std::to_string(9 * kBoards)});
  // Each step once, though both found the tables missing.
  EXPECT_EQ(QueryRows(url, "SELECT version FROM tamsolt_schema_version ORDER BY 1"),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  EXPECT_EQ(LocalCount(ledger, "forwarded_utc IS NULL"), "0");
}

TEST(ForwardBacklog, RefusingDatabaseIsReportedAndLeavesTheBoardsQueued) {
  const std::string url = FreshLineDatabase();
  // A role that may log in but has no rights on the tables.
  PgConnection admin(url);
  ASSERT_TRUE(admin.ExecScript("DROP ROLE IF EXISTS no_rights; CREATE ROLE no_rights LOGIN")) << admin.Error();
  {
    TestLedger seed;
    seed.AddBoard(9);
    ASSERT_EQ(ForwardBacklog(seed.Path(), url).forwarded, 1);  // makes the tables
  }
  const std::string dbname = url.substr(url.find("dbname=") + 7, url.find(" user=") - url.find("dbname=") - 7);
  struct Case {
    std::string connectionString;
    std::string message;
  } cases[] = {
      {LineUrl("no_such_line"), "database \"no_such_line\" does not exist"},
      {LineUrl(dbname, "no_rights"), "permission denied for table"},
  };
  for (const Case& c : cases) {
    TestLedger ledger;
    ledger.AddBoard(1);
    ledger.AddBoard(2);
    const ForwardResult result = ForwardBacklog(ledger.Path(), c.connectionString);
    EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
    EXPECT_EQ(result.forwarded, 0);
    EXPECT_EQ(result.left, 2);
    EXPECT_EQ(LocalCount(ledger, "forwarded_utc IS NULL"), "2");
  }
  EXPECT_EQ(LineUuids(url), Uuids({9}));
}

TEST(ForwardBacklog, BoardTheDatabaseRefusesStaysQueuedWhileTheOthersGo) {
  const std::string url = FreshLineDatabase();
  TestLedger ledger;
  ledger.AddBoard(1);
  ledger.AddBoard(2, true, "/etc/line3.ini", "yesterday, about noon");
  ledger.AddBoard(3);
  // A login name in another encoding is no reason to keep a board back.
  ledger.Exec("UPDATE boards SET operator = CAST(X'6f70b2e2' AS TEXT) WHERE id = 3");
  // Refused for its last image: the board goes with all its images or not at all.
  ledger.AddBoard(4);
  ledger.Exec("UPDATE images SET started_utc = 'soon' WHERE board_id = 4 AND kind = 'TDB'");
  const ForwardResult result = ForwardBacklog(ledger.Path(), url);
  EXPECT_NE(result.error.find("yesterday"), std::string::npos) << result.error;
  EXPECT_EQ(result.forwarded, 2);
  EXPECT_EQ(result.left, 2);
  EXPECT_EQ(LineUuids(url), Uuids({1, 3}));
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM images"), std::vector<std::string>{"18"});
  EXPECT_EQ(QueryRows(url, "SELECT operator FROM boards WHERE uuid = '" + TestLedger::Uuid(3) + "'"),
            std::vector<std::string>{"op\xEF\xBF\xBD\xEF\xBF\xBD"});
  EXPECT_EQ(ledger.Column("SELECT id FROM boards WHERE forwarded_utc IS NULL"),
            (std::vector<std::string>{"2", "4"}));
}

TEST(ForwardBacklog, StationRoleOnVersion1ForwardsWithoutTheFlagUntilTheOwnerBringsItTo2) {
  const std::string url = FreshLineDatabase();
  const std::string station = StationRoleOnVersion1(url);
  TestLedger ledger;
  ledger.AddBoard(1);
  ledger.AddBoard(2);
  ledger.Exec("UPDATE boards SET log_lost = 1");
  ForwardResult result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.forwarded, 2);
  for (const char* told : {"user=tamsolt_station", "at version 1", "-f linedb/schema_v2.sql"}) {
    EXPECT_NE(result.notice.find(told), std::string::npos) << result.notice;
  }
  ledger.Exec("UPDATE boards SET forwarded_utc = NULL WHERE id = 2");  // the mark was lost
  result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.forwarded, 1);
  EXPECT_EQ(LineUuids(url), Uuids({1, 2}));
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM images"), std::vector<std::string>{"18"});
  // It cannot change a record it has sent, nor the tables.
  PgConnection asStation(station);
  EXPECT_FALSE(asStation.Exec("DELETE FROM boards"));
  EXPECT_EQ(asStation.LastState(), "42501");

  // The tables' owner forwards once: version 2, the flag from then on, the station's too.
  ledger.AddBoard(3);
  ledger.Exec("UPDATE boards SET log_lost = 1 WHERE id = 3");
  result = ForwardBacklog(ledger.Path(), url);
  EXPECT_EQ(result.notice, "");
  EXPECT_EQ(result.forwarded, 1);
  ledger.AddBoard(4);
  ledger.Exec("UPDATE boards SET log_lost = 1 WHERE id = 4");
  result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.notice, "");
  EXPECT_EQ(result.forwarded, 1);
  // The step files run again (psql by an owner not sure it was done) change nothing.
  PgConnection owner(url);
  for (const LineSchemaStep& step : LineSchemaSteps()) EXPECT_TRUE(owner.ExecScript(step.sql)) << owner.Error();
  EXPECT_EQ(QueryRows(url, "SELECT right(uuid::text, 1), log_lost FROM boards ORDER BY id"),
            (std::vector<std::string>{"1|f", "2|f", "3|t", "4|t"}));
  EXPECT_EQ(QueryRows(url, "SELECT version FROM tamsolt_schema_version ORDER BY 1"),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

// A line database the owner brought to version 2 and no further gets each
// board's log_lost from a station that may not bring it up.
TEST(ForwardBacklog, AVersion2LineDatabaseGetsEachBoardsLogLost) {
  const std::string url = FreshLineDatabase();
  const std::string station = StationRoleOnVersion1(url);
  PgConnection owner(url);
  ASSERT_TRUE(owner.ExecScript(LineSchemaSteps()[1].sql)) << owner.Error();
  TestLedger ledger;
  ledger.AddBoard(1);
  ledger.Exec("UPDATE boards SET log_lost = 1");
  const ForwardResult result = ForwardBacklog(ledger.Path(), station);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(QueryRows(url, "SELECT log_lost FROM boards"), std::vector<std::string>{"t"});
}

// The line's own questions over every station's boards find their rows
// through an index (a plan with sequential scans ruled out wherever another
// way exists): a span across the line, the failures of the last week, every
// board that got a given image.
TEST(LineSchema, TheLinesQuestionsFindTheirRowsByIndex) {
  const std::string url = FreshLineDatabase();
  PgConnection db(url);
  for (const LineSchemaStep& step : LineSchemaSteps()) ASSERT_TRUE(db.ExecScript(step.sql)) << db.Error();
  ASSERT_TRUE(db.Exec("SET enable_seqscan = off")) << db.Error();
  const struct {
    const char* question;
    const char* sql;
    const char* index;
    const char* condition;  // what the index is searched by
  } questions[] = {
      {"a day across the line",
       "SELECT count(*) FROM boards WHERE started_utc >= '2026-12-08' AND started_utc < '2026-12-09'",
       "boards_started", "Index Cond: ((started_utc >="},
      {"the failures of the last week",
       "SELECT outcome_code, station, slot, count(*) FROM boards "
       "WHERE outcome_code <> 0 AND started_utc > now() - interval '7 days' GROUP BY 1, 2, 3",
       "boards_failed_started", "Index Cond: (started_utc >"},
      {"every board that got a host image",
       "SELECT b.uuid FROM images i JOIN boards b ON b.id = i.board_id "
       "WHERE i.sha256 = '4ba5baf48e86e67f8c41052aea1fed7638c7c81523f1f036cb998b8d38d3483c' AND i.kind = 'HOST'",
       "images_sha256", "Index Cond: (sha256 ="},
  };
  for (const auto& q : questions) {
    PgResult plan = db.Exec((std::string("EXPLAIN ") + q.sql).c_str());
    ASSERT_TRUE(plan) << q.question << ": " << db.Error();
    std::string text;
    for (int row = 0; row < PQntuples(plan.get()); ++row) text += std::string(PQgetvalue(plan.get(), row, 0)) + "\n";
    EXPECT_NE(text.find(std::string(" ") + q.index + " "), std::string::npos) << q.question << ":\n" << text;
    EXPECT_NE(text.find(q.condition), std::string::npos) << q.question << ":\n" << text;
  }
}
