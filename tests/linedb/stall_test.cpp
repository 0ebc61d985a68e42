// A line database that never answers (a frozen server, a paused pooler) or
// a stop: every wait ends, the statement is cancelled, the connection closed
// and the boards stay queued.
#include <gtest/gtest.h>

#include <chrono>

#include "ledger_builder.h"
#include "ledger/backlog_forwarder.h"
#include "ledger/forward_backlog.h"
#include "stalling_server.h"

namespace {

using std::chrono::milliseconds;
using Seen = StallingServer::Seen;

// By name (looked up by the station within the connect's time), or by
// address, which goes to libpq's connect at once.
std::string UrlOf(const StallingServer& server, bool byAddress = false) {
  return std::string(byAddress ? "hostaddr=127.0.0.1 " : "") + "host=localhost port=" +
         std::to_string(server.Port()) + " user=station dbname=line3";
}

SteadyTime In(milliseconds time) { return std::chrono::steady_clock::now() + time; }

}  // namespace

TEST(StalledLineDatabase, EveryWaitEndsAndTheBoardsStayQueued) {
  enum class Stop { kNever, kAtFirstStatement, kBeforeStart, kAtAccept };
  struct Case {
    const char* name;
    StallingServer::Mode mode;
    milliseconds replyTime;
    milliseconds forwardTime;  // 0: no deadline in all
    Stop stop;
    const char* error;
    int statements;  // seen before the wait ended, and each then cancelled
    bool byAddress = false;
  } cases[] = {
      {"statement unanswered", StallingServer::Mode::kAfterStartup, milliseconds(300), milliseconds(0),
       Stop::kNever, "no reply within 0.3 s (the statement was cancelled and the connection closed)", 1},
      // Time enough for the connect to a local server even under load, so the statement's wait ends it.
      {"forward's time runs out", StallingServer::Mode::kAfterStartup, milliseconds(60000),
       milliseconds(1500), Stop::kNever, "no reply within the time this forward was given", 1},
      {"stop during a statement", StallingServer::Mode::kAfterStartup, milliseconds(60000),
       milliseconds(0), Stop::kAtFirstStatement, "stopped while waiting for an answer", 1},
      {"server never speaks", StallingServer::Mode::kSilent, milliseconds(300), milliseconds(300),
       Stop::kNever, "no connection within the time this forward was given", 0},
      // No deadline of the caller's own (--ledger-sync, a background forward): the connect's own 2 s.
      {"server never speaks, no deadline given", StallingServer::Mode::kSilent, milliseconds(60000),
       milliseconds(0), Stop::kNever, "no connection within 2 s", 0},
      // Stopped, not ended by the connect's 2 s time-out.
      {"stop during the connect to a server that never speaks", StallingServer::Mode::kSilent,
       milliseconds(60000), milliseconds(0), Stop::kAtAccept, "stopped while waiting for an answer", 0},
      {"stop pending at the name lookup", StallingServer::Mode::kAfterStartup, milliseconds(60000),
       milliseconds(0), Stop::kBeforeStart, "stopped while waiting for an answer", 0},
      // The stop wins over a socket that is ready: no start-up, no statement.
      {"stop pending at the connect", StallingServer::Mode::kAfterStartup, milliseconds(60000),
       milliseconds(0), Stop::kBeforeStart, "stopped while waiting for an answer", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StallingServer server(c.mode);
    ASSERT_NE(server.Port(), 0);
    Flag stop;
    if (c.stop == Stop::kBeforeStart) stop.Set();
    if (c.stop == Stop::kAtFirstStatement || c.stop == Stop::kAtAccept) {
      server.OnChange([&stop, at = c.stop](const Seen& seen) {
        if ((at == Stop::kAtAccept ? seen.accepted : seen.statements) > 0) stop.Set();
      });
    }
    TestLedger ledger;
    ledger.AddBoard(1);
    ledger.AddBoard(2);
    PgWaitLimits limits{stop.Fd(), SteadyTime::max(), c.replyTime};
    if (c.forwardTime.count() > 0) limits.deadline = In(c.forwardTime);

    const ForwardResult result = ForwardBacklog(ledger.Path(), UrlOf(server, c.byAddress), limits);

    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("host=localhost db=line3 user=station"), std::string::npos) << result.error;
    EXPECT_EQ(result.stopped, c.stop != Stop::kNever);
    EXPECT_EQ(result.forwarded, 0);
    EXPECT_EQ(result.left, 2);
    // The session is closed; a statement under way is cancelled too.
    EXPECT_TRUE(server.WaitFor([&](const Seen& seen) {
      return seen.closedByClient >= (c.stop == Stop::kBeforeStart ? 0 : 1) &&
             seen.cancelRequests == c.statements;
    }));
    EXPECT_EQ(server.Snapshot().statements, c.statements);
    if (c.byAddress) {
      EXPECT_EQ(server.Snapshot().sessions, 0);
    }
    server.OnChange(nullptr);
  }
}

TEST(StalledLineDatabase, ClosingForwarderCutsTheForwardUnderWayAtAStopOrAfterItsHoldTime) {
  struct Case {
    const char* name;
    bool stop;                // a stop signal comes as the host closes
    milliseconds holdTime;    // one that would outlast ctest's time-out is never waited out
  } cases[] = {
      {"stop", true, milliseconds(std::chrono::hours(1))},
      {"hold time", false, milliseconds(100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StallingServer server(StallingServer::Mode::kAfterStartup);
    TestLedger ledger;
    ledger.AddBoard(1);
    Flag stop;
    std::vector<ForwardResult> reports;
    {
      BacklogForwarder forwarder(
          ledger.Path(), UrlOf(server),
          [&reports](const ForwardResult& result, bool) { reports.push_back(result); }, stop.Fd(),
          c.holdTime);
      forwarder.Request();
      ASSERT_TRUE(server.WaitFor([](const Seen& seen) { return seen.statements == 1; }));
      if (c.stop) stop.Set();
    }
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].stopped);  // cut, not ended by the 10 s reply time
    EXPECT_EQ(reports[0].left, 1);
    EXPECT_EQ(ledger.Column("SELECT count(*) FROM boards WHERE forwarded_utc IS NULL"),
              std::vector<std::string>{"1"});
    EXPECT_TRUE(server.WaitFor([](const Seen& seen) { return seen.closedByClient >= 1; }));
  }
}
