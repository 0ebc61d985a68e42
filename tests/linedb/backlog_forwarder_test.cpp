// The background forwarder a host calls after each board: an outage is told
// once, the backlog goes when the database is back, and what was requested
// before the host closes is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ledger_builder.h"
#include "line_server.h"
#include "ledger/backlog_forwarder.h"

namespace {

// What the forwarder reported, and a wait for the next report.
struct Reports {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<ForwardResult> results;
  std::vector<bool> errorIsNew;

  BacklogForwarder::Report Sink() {
    return [this](const ForwardResult& result, bool isNew) {
      std::lock_guard lock(mutex);
      results.push_back(result);
      errorIsNew.push_back(isNew);
      arrived.notify_all();
    };
  }
  // Only a guard against a hang: a report comes after at most the connect time-out.
  bool WaitFor(std::size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(60), [&] { return results.size() >= count; });
  }
};

}  // namespace

TEST(BacklogForwarder, OutageIsToldOnceAndTheBacklogGoesWhenTheDatabaseIsBack) {
  const std::string url = FreshLineDatabase();
  SwitchableServer server;
  TestLedger ledger;
  ledger.AddBoard(1);
  Reports reports;
  {
    BacklogForwarder forwarder(ledger.Path(), server.Through(url), reports.Sink());
    for (int board = 2; board <= 3; ++board) {  // two boards during the outage
      ledger.AddBoard(board);
      forwarder.Request();
      ASSERT_TRUE(reports.WaitFor(board - 1));
    }
    server.Up();
    forwarder.Request();
    ASSERT_TRUE(reports.WaitFor(3));
    server.Down();  // a second outage is told again
    ledger.AddBoard(4);
    forwarder.Request();
    ASSERT_TRUE(reports.WaitFor(4));
  }
  ASSERT_EQ(reports.results.size(), 4u);
  EXPECT_EQ(reports.errorIsNew, (std::vector<bool>{true, false, false, true}));
  EXPECT_EQ(reports.results[1].left, 3);
  EXPECT_EQ(reports.results[2].error, "");
  EXPECT_EQ(reports.results[2].forwarded, 3);
  EXPECT_EQ(reports.results[2].left, 0);
  EXPECT_EQ(reports.results[3].left, 1);
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM boards"), std::vector<std::string>{"3"});
}

TEST(BacklogForwarder, BoardRequestedJustBeforeTheHostClosesIsSent) {
  const std::string url = FreshLineDatabase();
  TestLedger ledger;
  Reports reports;
  {
    BacklogForwarder forwarder(ledger.Path(), url, reports.Sink());
    for (int board = 1; board <= 3; ++board) {
      ledger.AddBoard(board);
      forwarder.Request();
    }
  }
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM boards"), std::vector<std::string>{"3"});
  EXPECT_EQ(ledger.Column("SELECT count(*) FROM boards WHERE forwarded_utc IS NULL"),
            std::vector<std::string>{"0"});
  EXPECT_FALSE(reports.results.empty());
}

TEST(BacklogForwarder, TablesOfAnOlderVersionAreToldOnce) {
  const std::string url = FreshLineDatabase();
  const std::string station = StationRoleOnVersion1(url);
  TestLedger ledger;
  Reports reports;
  {
    BacklogForwarder forwarder(ledger.Path(), station, reports.Sink());
    for (int board = 1; board <= 2; ++board) {
      ledger.AddBoard(board);
      forwarder.Request();
      ASSERT_TRUE(reports.WaitFor(board));
    }
  }
  ASSERT_EQ(reports.results.size(), 2u);
  EXPECT_NE(reports.results[0].notice.find("at version 1"), std::string::npos) << reports.results[0].notice;
  EXPECT_EQ(reports.results[1].notice, "");
  EXPECT_EQ(reports.results[1].forwarded, 1);
}
