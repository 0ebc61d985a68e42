// The parts of tamsolt-cli that need no device: the command line, the
// progress lines, --all's children and closing table, --wait and the timers.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/device_presence.h"
#include "cli/progress_bar.h"
#include "cli/progress_events.h"
#include "cli/terminal_host.h"
#include "cli/timer_loop.h"
#include "engine/engine_host.h"
#include "events/event_reader.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "record/transfer_context.h"
#include "run/cli_options.h"
#include "run/stop_signals.h"
#include "supervisor/all_run_slots.h"
#include "supervisor/child_process.h"
#include "supervisor/slot_alerts.h"
#include "supervisor/slot_book.h"
#include "supervisor/station_run.h"

namespace {

using Args = std::vector<std::string>;

TEST(CliOptions, RowsDeviceWaitAndLogFileAreTaken) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions({"--boot", "b.bin", "--tdb=t.tdb", "--device", "1:12", "--wait",
                               "2.5", "--log-file", "run.log", "--settings", "s.ini"},
                              options, error))
      << error;
  EXPECT_EQ(options.rows[0], "b.bin");
  EXPECT_EQ(options.rows[8], "t.tdb");
  EXPECT_FALSE(options.rows[2].has_value());
  EXPECT_EQ(options.device->Text(), "001:012");  // labelled as --all labels it
  EXPECT_EQ(*options.waitSeconds, 2.5);
  // A child of --all gets the same rows, settings and log file, and its device
  // (and forwards nothing: its parent does).
  EXPECT_EQ(ChildArguments(options, {"001", "004"}),
            (Args{"--boot", "b.bin", "--tdb", "t.tdb", "--settings", "s.ini", "--log-file",
                  "run.log", "--ledger-url=", "--device", "001:004"}));
  CliOptions lookOnce;  // --wait 0: look once, do not wait
  ASSERT_TRUE(ParseCliOptions({"--wait=0"}, lookOnce, error)) << error;
  EXPECT_EQ(*lookOnce.waitSeconds, 0.0);
}

TEST(CliOptions, MisuseIsRefusedWithAReason) {
  for (const Args& args : {Args{"--rcdb"}, Args{"--rcdb", "a", "--rcdb", "b"}, Args{"--x"},
                           Args{"--device", "12"}, Args{"--device", "a:b"}, Args{"--device", "1:x"},
                           Args{"--device", "1:"}, Args{"--wait", "-1"},
                           Args{"--wait", "soon"}, Args{"--all", "--device", "1:2"},
                           Args{"--list", "--rcdb", "a"}, Args{"--list=yes"},
                           Args{"--all", "--settle", "1"}, Args{"--wait", "1", "--settle", "1"},
                           Args{"--all", "--wait", "1", "--settle", "x"},
                           Args{"--board-uuid", "E24CCC70-0114-4C28-AA2C-EE36AB4C4C4C"},
                           Args{"--board-uuid", "e24ccc70-0114-4c28-aa2c-ee36ab4c4c4"}}) {
    CliOptions options;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(ProgressBar, PlainOutputHasALinePerTenthAndTheTerminalLineEverything) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  ProgressBar bar(out, false);
  bar.Start("FONT", 20, 40960);
  for (int block = 1; block <= 20; ++block) bar.Move(block);
  bar.Move(0);  // the item's end resets the bar
  std::fclose(out);
  const std::string lines = text;
  std::free(text);
  EXPECT_EQ(lines.find("FONT  10%  4096/40960 bytes\n"), 0u);
  EXPECT_NE(lines.find("FONT 100%  40960/40960 bytes\n"), std::string::npos);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 10);

  EXPECT_EQ(BarLine({"RCDB", 45, 1234, 2742, std::chrono::seconds(75)}),
            "RCDB [#########           ]  45%  1234/2742 bytes  1:15 left");
}

TEST(CliOptions, SettleBelongsToAllWithWait) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions({"--all", "--wait", "10", "--settle", "0.5"}, options, error));
  EXPECT_EQ(options.settleSeconds, 0.5);
}

TEST(StationRun, TableNamesEachDeviceItsResultAndTimeAndTheLateOnes) {
  EXPECT_EQ(ResultTable({{{{"001", "002"}, 0, 2.34},
                          {{"001", "003"}, 8, 0.5},
                          {{"001", "004"}, 10, 1},
                          {{"001", "005"}, 137, 1}},
                         {{"001", "009"}},
                         true}),
            "device    result                          time\n"
            "001:002   0 done                          2.3 s\n"
            "001:003   8 transfer gave up              0.5 s\n"
            "001:004   10 interrupted                  1.0 s\n"
            "001:005   137 failed: ended by a signal   1.0 s\n"
            "001:009   not written: came after the others had started\n");
}

// A child's lines are passed on each with its device once, however many one
// read brings; a child ended by a signal counts 128 + the signal, which no
// exit code of its own means.
TEST(StationRun, LinesReadTogetherArePrefixedOnceAndASignalIsNoExitCode) {
  const std::string child = testing::TempDir() + "station_child_" + std::to_string(getpid()) + ".sh";
  std::ofstream(child) << "#!/bin/sh\nprintf 'one\\ntwo\\n'\nkill -KILL $$\n";
  ASSERT_EQ(chmod(child.c_str(), 0700), 0);
  testing::internal::CaptureStdout();
  const StationRun run = RunStation(child, CliOptions{}, {{"001", "002"}});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[001:002] one\n[001:002] two\n");
  ASSERT_EQ(run.results.size(), 1u);
  EXPECT_EQ(run.results[0].exitCode, 128 + SIGKILL);
  EXPECT_NE(ResultTable(run).find("001:002   137 failed: ended by a signal"), std::string::npos);
}

// --wait takes fractions of a second: 0.9 s are waited out, not cut to none.
TEST(DevicePresence, AWaitOfLessThanASecondLastsItsFullTime) {
  const auto started = std::chrono::steady_clock::now();
  int signal = 0;
  EXPECT_EQ(WaitForDevice(DeviceAddress{"255", "255"}, 0.9, signal), WaitEnd::kTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
}

// The sleeping thread's own timer slack, read by a handler that runs on it: a
// thread may read another's only with CAP_SYS_NICE, which an ordinary user lacks.
std::atomic<int> g_sleepersSlack{-1};
std::atomic<int> g_sleepersSlackReadings{0};
extern "C" void ReadOwnTimerSlack(int) {
  const int saved = errno;
  g_sleepersSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  ++g_sleepersSlackReadings;
  errno = saved;
}

// Where the host would exit after a stop signal (Interrupt never returns), the
// test gets the exit code back as an exception instead.
struct InterruptedExit {
  int code;
  std::string where;
};
class HostThatDoesNotExit : public TerminalHost {
 public:
  using TerminalHost::TerminalHost;

 private:
  void BeforeInterruptedExit(int code, const std::string& where) override {
    throw InterruptedExit{code, where};
  }
};

// The device's pacing in tamsolt-cli waits as precisely as the window's (the
// thread's timer slack lowered while it waits), and a stop signal still cuts
// a wait short.
TEST(TerminalHost, PacesWithThePrecisePauseAndAStopSignalCutsAWaitShort) {
  InstallStopSignals();
  struct sigaction readSlack {};
  readSlack.sa_handler = ReadOwnTimerSlack;
  sigemptyset(&readSlack.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &readSlack, nullptr), 0);
  constexpr int kOwnSlackNanos = 123'457;
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(kOwnSlackNanos), 0, 0, 0), 0);
  HostThatDoesNotExit host(CliRows{}, "", "");
  SetEngineHost(&host);  // its interrupted line takes the engine's time text

  // Asks the sleeper for its slack, one reading at a time, until it has the
  // pause's; then a stop signal. Only a pause that never lowers the slack runs
  // its whole (long) time.
  const pthread_t sleeper = pthread_self();
  std::atomic<bool> slept{false};
  std::thread watcher([&] {  // started after the signals were blocked: it blocks them too
    while (!slept) {
      const int readings = g_sleepersSlackReadings;
      pthread_kill(sleeper, SIGUSR1);
      while (g_sleepersSlackReadings == readings && !slept) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (g_sleepersSlack == 1) {
        kill(getpid(), SIGTERM);
        return;
      }
    }
  });
  constexpr std::uint32_t kPauseMs = 30'000;
  const auto started = std::chrono::steady_clock::now();
  int exitCode = -1;
  try {
    host.Sleep(kPauseMs);
  } catch (const InterruptedExit& interrupted) {
    exitCode = interrupted.code;
  }
  const auto paused = std::chrono::steady_clock::now() - started;
  slept = true;
  watcher.join();
  EXPECT_EQ(g_sleepersSlack, 1) << "the pause kept the thread's own slack";
  EXPECT_EQ(exitCode, AsInt(ExitCode::kInterrupted));
  EXPECT_LT(paused, std::chrono::milliseconds(kPauseMs / 2)) << "the stop signal did not cut the pause short";
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), kOwnSlackNanos) << "the slack was not given back";

  SetEngineHost(nullptr);
  signal(SIGUSR1, SIG_DFL);
  prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // the default again
  ResetStopSignalsForExec();
}

TEST(TimerLoop, ATimerKilledInItsOwnHandlerFiresNoMoreAndOthersGoOn) {
  std::vector<std::uint32_t> fired;
  TimerLoop* loop = nullptr;
  TimerLoop timers([&](std::uint32_t id) {
    fired.push_back(id);
    if (id == 1) {
      loop->Kill(1);
      loop->Set(2, 1);
    } else {
      loop->Kill(2);
      loop->FireDue();  // a pump from inside a handler does not re-enter it
    }
  });
  loop = &timers;
  timers.Set(1, 1);
  while (timers.WaitAndFireNext()) {
  }
  EXPECT_EQ(fired, (std::vector<std::uint32_t>{1, 2}));
}

// The events that body writes to standard output, one parsed object each.
template <typename Body>
std::vector<nlohmann::json> EventsOf(Body body) {
  std::FILE* capture = std::tmpfile();
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(fileno(capture), STDOUT_FILENO);
  EnableJsonEvents("001:002", "1-1");
  body();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::rewind(capture);
  std::vector<nlohmann::json> events;
  char line[4096];
  while (std::fgets(line, sizeof line, capture) != nullptr) events.push_back(nlohmann::json::parse(line));
  std::fclose(capture);
  return events;
}

TEST(JsonEvents, APathThatIsNotUtf8IsCarriedWithAReplacementCharacter) {
  const auto events = EventsOf([] { EmitEvent("item-start", {{"file", "/media/\xff.rdb"}}); });
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["data"]["file"], "/media/\xef\xbf\xbd.rdb");
  EXPECT_EQ(events[0]["slot"], "1-1");
}

TEST(JsonEvents, ProgressComesAtEveryTenthAndTheItemEndsAtItsDone) {
  const auto events = EventsOf([] {
    ProgressEvents progress;
    progress.Start("FV", "voice.fv", 200, 2000);
    for (int block = 1; block <= 200; ++block) progress.Move(block);
    progress.Finish();
    progress.Finish();  // once only
  });
  // Start, 0 % and every tenth to 100 %, done (a stall of a second may add one).
  ASSERT_GE(events.size(), 13u);
  ASSERT_LT(events.size(), 20u);
  std::vector<int> tenths;
  for (const auto& event : events) {
    const int percent = event["data"].value("percent", -1);
    if (percent % 10 == 0 && (tenths.empty() || tenths.back() != percent)) tenths.push_back(percent);
  }
  EXPECT_EQ(tenths, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  EXPECT_EQ(events.front()["kind"], "item-start");
  EXPECT_EQ(events.back()["kind"], "item-done");
  EXPECT_EQ(events[events.size() - 2]["data"]["bytes_done"], 2000);
}

// A child that cannot be started (no descriptor left for its pipes) is a
// failure with its reason; waiting for it must not reap another child.
TEST(ChildProcess, OneThatCannotStartSaysWhyAndTakesNoOtherChildsStatus) {
  ChildProcess running = StartChild("/bin/sh", {"-c", "exit 3"});
  ASSERT_GT(running.pid, 0);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit none{0, limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  ChildProcess failed = StartChild("/bin/sh", {"-c", "exit 0"});
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_EQ(failed.pid, -1);
  EXPECT_FALSE(failed.OutputOpen());
  EXPECT_NE(failed.startError.find("Too many open files"), std::string::npos) << failed.startError;
  EXPECT_EQ(ReapChild(failed), kChildNotStarted);
  close(running.out.fd);  // the running child's read ends
  close(running.err.fd);
  running.out.fd = running.err.fd = -1;
  EXPECT_EQ(ReapChild(running), 3);
}

// A child's event line is read without ever throwing: a line that is not an
// event is refused, a field of the wrong type reads as absent.
TEST(ChildEvents, ALineThatIsNotAnEventOrHasAWrongFieldNeverThrows) {
  EXPECT_FALSE(ParseEventLine("not json"));
  const auto bare = ParseEventLine(R"({"kind":"log"})");  // no data: its fields are absent
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->kind, EventKind::kLog);
  EXPECT_EQ(bare->text, "");
  EXPECT_FALSE(ParseEventLine(R"({"kind":7,"data":{}})"));
  EXPECT_FALSE(ParseEventLine(R"([{"kind":"log","data":{}}])"));
  const auto odd = ParseEventLine(R"({"kind":"progress","data":{"item":5,"percent":"40"}})");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->item, "");
  EXPECT_EQ(odd->percent, 0);
  const auto progress = ParseEventLine(R"({"kind":"progress","data":{"item":"FV","percent":1e300}})");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->item, "FV");
  EXPECT_EQ(progress->percent, 100);
  const auto outcome = ParseEventLine(R"({"kind":"outcome","data":{"exit_name":"begin refused"}})");
  ASSERT_TRUE(outcome);
  EXPECT_EQ(OutcomeReason(*outcome), "begin refused");
  EXPECT_EQ(OutcomeReason(*ParseEventLine(R"({"kind":"outcome","data":{"exit_name":"x","reason":"the box"}})")),
            "the box");
}

// A stop that comes once the device has answered the end exchange only ends
// the wait that follows (the close wait before the completion box): the board
// holds every image. Before that answer the same stop interrupts.
TEST(TerminalHost, AStopAfterTheEndAnswerLeavesTheBoardWritten) {
  InstallStopSignals();
  HostThatDoesNotExit answered(CliRows{}, "", "");
  SetEngineHost(&answered);
  answered.TransferEndAnswered();
  kill(getpid(), SIGTERM);  // blocked: it waits for the pause to take it
  const auto started = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(answered.Sleep(30'000));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));

  // The test-data loop steps one past its last block to end itself: the
  // position a stop names is never past the end.
  HostThatDoesNotExit writing(CliRows{}, "", "");
  SetEngineHost(&writing);
  g_transfer.busy = 1;
  g_transfer.itemKind = kKindTdb;
  g_transfer.blockIndex = 20;
  g_transfer.blockCount = 19;
  kill(getpid(), SIGTERM);
  InterruptedExit interrupted{-1, ""};
  try {
    writing.Sleep(30'000);
  } catch (const InterruptedExit& exit) {
    interrupted = exit;
  }
  g_transfer.busy = 0;
  g_transfer.itemKind = 0;
  g_transfer.blockIndex = g_transfer.blockCount = 0;
  EXPECT_EQ(interrupted.code, AsInt(ExitCode::kInterrupted));
  EXPECT_EQ(interrupted.where, "Interrupted by SIGTERM at TDB block 19 of 19");
  SetEngineHost(nullptr);
  ResetStopSignalsForExec();
}

// --all: a board on a child's port is that child's board, also once it
// rebooted after its end exchange; a board put into a port freed by its
// operator, or on a port no child has, came too late; a board whose port
// cannot be read is named by the closing look alone.
TEST(AllRunSlots, ARebootedBoardIsNotLateAndANewOneIs) {
  const auto at = [](int ms) { return AllRunSlots::Clock::time_point{} + std::chrono::milliseconds(ms); };
  const DeviceAddress first{"001", "002"}, second{"001", "003"};
  const auto on = [](const char* bus, const char* device, const char* port) {
    return PortedDevice{DeviceAddress{bus, device}, port};
  };
  AllRunSlots run(std::chrono::seconds(3), {first, second});
  run.Started("1-1.1", first.Text(), at(0));
  run.Started("1-1.2", second.Text(), at(0));
  EXPECT_TRUE(run.Look({on("001", "002", "1-1.1"), on("001", "003", "1-1.2")}, at(250), false).empty());
  // The first reboots as its end exchange is answered; the second is done and stays.
  EXPECT_TRUE(run.Look({on("001", "003", "1-1.2")}, at(1000), false).empty());
  run.Ended("1-1.1", true, at(1100));
  run.Ended("1-1.2", true, at(1100));
  EXPECT_TRUE(run.Look({on("001", "004", "1-1.1"), on("001", "003", "1-1.2")}, at(1600), false).empty());
  // The second taken out, a new board in its port; another on a port of no child.
  EXPECT_TRUE(run.Look({on("001", "004", "1-1.1")}, at(2000), false).empty());
  const auto late = run.Look({on("001", "004", "1-1.1"), on("001", "005", "1-1.2"),
                              on("001", "006", "1-1.3")}, at(2250), false);
  ASSERT_EQ(late.size(), 2u);
  EXPECT_EQ(late[0].address.Text(), "001:005");
  EXPECT_EQ(late[1].address.Text(), "001:006");
  // Named once.
  EXPECT_TRUE(run.Look({on("001", "005", "1-1.2"), on("001", "006", "1-1.3")}, at(2500), false).empty());

  const std::vector<PortedDevice> portless = {on("001", "007", "")};
  EXPECT_TRUE(run.Unplaced(portless));
  EXPECT_TRUE(run.Look(portless, at(2750), false).empty());
  ASSERT_EQ(run.Look(portless, at(3000), true).size(), 1u);
  EXPECT_FALSE(run.Unplaced(portless));
  EXPECT_EQ(run.Late().size(), 3u);
}

// A slot over time, as the station drives it: at each step one look at the
// bus (the board's address, or none), then what the child said ("p40": a
// progress, "done"/"failed": its outcome, "gone": it found no device), then
// the boards taken. Checked: whether the step took the board, whether the
// board in the slot is the one taken, and the operator's text.
TEST(SlotBook, ABoardIsWrittenOnceAndNeverShownWrittenUnlessItIsTheBoardTaken) {
  struct Step {
    int ms;
    const char* board;
    const char* child;
    bool started;
    bool taken;
    const char* text;
  };
  const char* cameBack = "done; the board now in it came back before that outcome and is not "
                         "taken: re-plug it if it is new";
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"stays after its write",
       {{0, "001:002", "", true, true, "writing"},
        {3000, "001:002", "done", false, true, "done, waiting for removal"},
        {9000, "001:002", "", false, true, "done, waiting for removal"}}},
      {"taken out after done and the next one in 0.8 s later",
       {{0, "001:002", "", true, true, "writing"},
        {3000, "001:002", "done", false, true, "done, waiting for removal"},
        {3500, "", "", false, false, "empty"},
        {4300, "001:003", "", true, true, "writing"}}},
      {"reboots at its end exchange and is back before its outcome",
       {{0, "001:002", "", true, true, "writing"},
        {2000, "", "", false, false, "writing"},
        {3000, "001:003", "p100", false, false, "writing RCDB 100%"},
        {4000, "001:003", "done", false, false, cameBack},
        {9000, "001:003", "", false, false, cameBack},
        // Out again: it may restart once more, so the wait starts anew.
        {9500, "", "", false, false, "done, empty"},
        {9800, "001:004", "", false, false, cameBack},
        {10000, "", "", false, false, "done, empty"},
        {13000, "", "", false, false, "empty"},
        {13100, "001:005", "", true, true, "writing"}}},
      {"reboots and is back after its outcome, within the re-arm time",
       {{0, "001:002", "", true, true, "writing"},
        {2000, "", "", false, false, "writing"},
        {2500, "", "done", false, false, "done, empty"},
        {4000, "001:003", "", false, false, cameBack}}},
      {"left before its outcome and stayed out for the re-arm time",
       {{0, "001:002", "", true, true, "writing"},
        {2000, "", "failed", false, false, "failed: why, empty"},
        {4999, "", "", false, false, "failed: why, empty"},
        {5000, "", "", false, false, "empty"},
        {5100, "001:003", "", true, true, "writing"}}},
      {"restarts inside its exchange and the child goes on writing it",
       {{0, "001:002", "", true, true, "writing"},
        {500, "", "", false, false, "writing"},
        {3500, "001:003", "", false, false, "writing"},
        {3600, "001:003", "p40", false, true, "writing RCDB 40%"},
        {6000, "001:003", "done", false, true, "done, waiting for removal"}}},
      {"swapped between two looks after its outcome",
       {{0, "001:002", "", true, true, "writing"},
        {3000, "001:002", "done", false, true, "done, waiting for removal"},
        {3200, "001:005", "", true, true, "writing"}}},
      {"taken out on its failure box while its writer still ends",
       {{0, "001:002", "", true, true, "writing"},
        {1000, "001:002", "box", false, true, "failed: why, waiting for removal"},
        {1200, "", "", false, false, "failed: why, empty"},
        {1400, "001:003", "", false, false,
         "failed: why; the board now in it is taken once the writer before it has ended"},
        {3000, "001:003", "failed", false, false,
         "failed: why; the board now in it is taken once the writer before it has ended"},
        {3250, "001:003", "", true, true, "writing"}}},
      {"left before its device was opened: no board",
       {{0, "001:002", "", true, true, "writing"},
        {100, "", "gone", false, false, "empty"},
        {200, "001:003", "", true, true, "writing"}}},
  };
  const auto t0 = SlotBook::Clock::time_point{};
  for (const auto& [name, steps] : cases) {
    SlotBook book(std::chrono::seconds(3));
    for (const Step& step : steps) {
      const auto now = t0 + std::chrono::milliseconds(step.ms);
      const std::string child = step.child;
      std::map<std::string, std::string> boards;
      if (*step.board != '\0') boards["1-1.2"] = step.board;
      book.Observe(boards, now);
      if (child == "p40" || child == "p100") book.Progress("1-1.2", "RCDB", child == "p40" ? 40 : 100);
      if (child == "done") book.Finished("1-1.2", SlotState::kDone, "", now);
      if (child == "failed") book.Finished("1-1.2", SlotState::kFailed, "why", now);
      if (child == "box") book.Failing("1-1.2", "why", now);
      if (child == "gone") book.NoBoard("1-1.2", now);
      const bool started = !book.Take(10, NotTaken::kStopping, now).empty();
      const std::string at = std::string(name) + " at " + std::to_string(step.ms);
      EXPECT_EQ(started, step.started) << at;
      EXPECT_EQ(book.Slots().at("1-1.2").HoldsItsBoard(), step.taken) << at;
      EXPECT_EQ(book.Text("1-1.2", now, false), step.text) << at;
    }
  }
}

// --max-boards: exactly the allowance is taken, in slot order; the others say
// why not, and a terminal counts the re-arm down.
TEST(SlotBook, TakesExactlyItsAllowanceAndSaysWhyABoardIsNotTaken) {
  SlotBook book(std::chrono::seconds(3));
  const auto t0 = SlotBook::Clock::time_point{};
  book.Observe({{"1-1.1", "001:002"}, {"1-1.2", "001:003"}, {"1-1.3", "001:004"}}, t0);
  EXPECT_EQ(book.Take(1, NotTaken::kLotReached, t0), std::vector<std::string>{"1-1.1"});
  EXPECT_EQ(book.Slots().at("1-1.2").notTaken, NotTaken::kLotReached);
  EXPECT_FALSE(book.Slots().at("1-1.3").HoldsItsBoard());
  EXPECT_EQ(book.Text("1-1.3", t0, true), "not taken: the lot is complete; take it out");
  EXPECT_TRUE(book.Take(0, NotTaken::kStopping, t0).empty());
  EXPECT_EQ(book.Text("1-1.3", t0, true), "not taken: the station is stopping; take it out");
  book.Observe({{"1-1.2", "001:003"}, {"1-1.3", "001:004"}}, t0 + std::chrono::seconds(1));
  book.Finished("1-1.1", SlotState::kFailed, "设备拒绝开始下载", t0 + std::chrono::seconds(1));
  EXPECT_EQ(book.Text("1-1.1", t0 + std::chrono::milliseconds(1900), true),
            "failed: 设备拒绝开始下载, re-arms in 3 s");
  EXPECT_EQ(NotTakenName(book.Slots().at("1-1.2").notTaken), std::string("stopping"));

  // The board taken was none after all (gone before its device opened): the
  // allowance is free again, but a board told to come out is never taken.
  SlotBook lot(std::chrono::seconds(3));
  lot.Observe({{"1-1.1", "001:002"}, {"1-1.2", "001:003"}}, t0);
  ASSERT_EQ(lot.Take(1, NotTaken::kLotReached, t0).size(), 1u);
  lot.NoBoard("1-1.1", t0);
  lot.Observe({{"1-1.2", "001:003"}}, t0 + std::chrono::milliseconds(250));
  EXPECT_TRUE(lot.Take(1, NotTaken::kLotReached, t0).empty());
  EXPECT_EQ(lot.Text("1-1.2", t0, true), "not taken: the lot is complete; take it out");
  lot.Observe({{"1-1.2", "001:003"}, {"1-1.3", "001:004"}}, t0 + std::chrono::milliseconds(500));
  EXPECT_EQ(lot.Take(1, NotTaken::kLotReached, t0), std::vector<std::string>{"1-1.3"});
}

// Each case plays its boards (slot, 'W'ritten or 'F'ailed) in order and
// says whether slot A asks to be checked afterwards, and by which rule.
TEST(SlotAlerts, ThreeFailuresOrAFarHigherRateAlertAndAWrittenBoardClears) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, char>> boards;
    std::optional<SlotAlert::Rule> alert;
  } cases[] = {
      {"two failures in a row", {{"A", 'F'}, {"A", 'F'}}, std::nullopt},
      {"three failures in a row", {{"A", 'W'}, {"A", 'F'}, {"A", 'F'}, {"A", 'F'}},
       SlotAlert::Rule::kLastThreeFailed},
      {"three failures, then one written", {{"A", 'F'}, {"A", 'F'}, {"A", 'F'}, {"A", 'W'}}, std::nullopt},
      {"three failures not in a row", {{"A", 'F'}, {"A", 'F'}, {"A", 'W'}, {"A", 'F'}}, std::nullopt},
      // A: 3 of 5 failed (60 %); the station 3 of 10 (30 %): twice and 30 points above.
      {"a far higher rate", {{"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'},
                             {"A", 'F'}, {"A", 'W'}, {"A", 'F'}, {"A", 'W'}, {"A", 'F'}},
       SlotAlert::Rule::kHighRate},
      // The same rate on 4 boards is too small a sample.
      {"a small sample", {{"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"A", 'F'}, {"A", 'W'},
                          {"A", 'F'}, {"A", 'F'}}, std::nullopt},
      // A: 2 of 5 (40 %) against 2 of 10 (20 %): twice, but only 20 points above.
      {"twice but not 30 points above", {{"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'},
                                         {"A", 'W'}, {"A", 'F'}, {"A", 'W'}, {"A", 'W'}, {"A", 'F'}},
       std::nullopt},
      // A: 4 of 5 (80 %) against 5 of 10 (50 %): 30 points above, but not twice.
      {"30 points above but not twice", {{"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'W'}, {"B", 'F'},
                                         {"A", 'F'}, {"A", 'F'}, {"A", 'W'}, {"A", 'F'}, {"A", 'F'}},
       std::nullopt},
      // Every slot as bad as A: the station, not the slot.
      {"the whole station fails", {{"B", 'F'}, {"B", 'W'}, {"B", 'F'}, {"B", 'W'}, {"B", 'F'},
                                   {"A", 'F'}, {"A", 'W'}, {"A", 'F'}, {"A", 'W'}, {"A", 'F'}},
       std::nullopt},
  };
  for (const auto& c : cases) {
    SlotAlerts alerts;
    for (const auto& [slot, result] : c.boards) {
      alerts.Record(slot, result == 'W' ? BoardVerdict::kWritten : BoardVerdict::kFailed, std::string("reason of ") + slot);
    }
    const SlotAlert* alert = alerts.AlertOf("A");
    ASSERT_EQ(alert != nullptr, c.alert.has_value()) << c.name;
    if (alert != nullptr) {
      EXPECT_EQ(alert->rule, *c.alert) << c.name;
    }
    EXPECT_EQ(alerts.AlertOf("B"), nullptr) << c.name;
  }
}

TEST(SlotAlerts, TheAlertCarriesItsEvidence) {
  SlotAlerts alerts;
  alerts.Record("B", BoardVerdict::kWritten, "");
  EXPECT_FALSE(alerts.Record("A", BoardVerdict::kFailed, "no reply"));
  EXPECT_FALSE(alerts.Record("A", BoardVerdict::kFailed, "begin refused"));
  // A write cut by a stop signal neither counts nor breaks the run.
  EXPECT_FALSE(alerts.Record("A", BoardVerdict::kCut, "interrupted"));
  EXPECT_TRUE(alerts.Record("A", BoardVerdict::kFailed, "transfer gave up"));
  EXPECT_TRUE(alerts.Record("A", BoardVerdict::kFailed, "no reply again"));  // more evidence
  const SlotAlert* alert = alerts.AlertOf("A");
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(std::string(SlotAlertRuleName(alert->rule)), "last-three-failed");
  EXPECT_EQ(alert->boards, 4);
  EXPECT_EQ(alert->failed, 4);
  EXPECT_EQ(alert->stationBoards, 5);
  EXPECT_EQ(alert->stationFailed, 4);
  EXPECT_EQ(alert->lastReasons, (std::vector<std::string>{"begin refused", "transfer gave up", "no reply again"}));
  EXPECT_TRUE(alerts.Record("A", BoardVerdict::kWritten, ""));  // cleared
  EXPECT_EQ(alerts.AlertOf("A"), nullptr);
  EXPECT_FALSE(alerts.Record("A", BoardVerdict::kWritten, ""));
}

}  // namespace
