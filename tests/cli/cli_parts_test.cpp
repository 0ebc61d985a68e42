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
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/device_presence.h"
#include "cli/exit_codes.h"
#include "cli/json_events.h"
#include "cli/progress_bar.h"
#include "cli/progress_events.h"
#include "cli/slot_book.h"
#include "cli/station_run.h"
#include "cli/stop_signals.h"
#include "cli/terminal_host.h"
#include "cli/timer_loop.h"
#include "engine/engine_host.h"

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
                           Args{"--all", "--wait", "1", "--settle", "x"}}) {
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
  const std::string child = testing::TempDir() + "station_child.sh";
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
};
class HostThatDoesNotExit : public TerminalHost {
 public:
  using TerminalHost::TerminalHost;

 private:
  void BeforeInterruptedExit(int code) override { throw InterruptedExit{code}; }
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

// A slot over time: each step a scan at t ms with the board in the slot or
// not, and whether that scan takes it; a write ends in between when done_at.
TEST(SlotBook, EachBoardIsWrittenOnceAndASlotReArmsOnlyAfterItWasEmptyLongEnough) {
  struct Step {
    int ms;
    bool present;
    bool taken;
    const char* text;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"board stays after its write",
       {{0, true, true, "writing"}, {3000, true, false, "done, waiting for removal"},
        {9000, true, false, "done, waiting for removal"}}},
      {"board reboots after its write and comes back before the re-arm",
       {{0, true, true, "writing"}, {3000, false, false, "done, empty"},
        {4000, true, false, "done, waiting for removal"}, {9000, true, false, "done, waiting for removal"}}},
      {"a new board after the slot was empty for the re-arm time",
       {{0, true, true, "writing"}, {3000, false, false, "done, empty"},
        {5999, false, false, "done, empty"}, {6000, false, false, "empty"},
        {6500, true, true, "writing"}}},
      {"a board plugged in too soon is taken once it was out long enough",
       {{0, true, true, "writing"}, {3000, false, false, "done, empty"},
        {4000, true, false, "done, waiting for removal"}, {5000, false, false, "done, empty"},
        {8000, false, false, "empty"}, {8100, true, true, "writing"}}},
  };
  const auto t0 = SlotBook::Clock::time_point{};
  for (const Case& c : cases) {
    SlotBook book(std::chrono::seconds(3));
    for (const Step& step : c.steps) {
      const auto now = t0 + std::chrono::milliseconds(step.ms);
      std::map<std::string, std::string> boards;
      if (step.present) boards["1-1.2"] = "001:007";
      if (step.ms == 3000) book.Finished("1-1.2", SlotState::kDone, "", now - std::chrono::milliseconds(1));
      const auto taken = book.Scan(boards, true, now);
      EXPECT_EQ(!taken.empty(), step.taken) << c.name << " at " << step.ms;
      EXPECT_EQ(book.Text("1-1.2", now, false), step.text) << c.name << " at " << step.ms;
    }
  }
}

// What a reader is told apart: the written board still in its slot, a board
// put in after it was out but before the re-arm, and a cut board.
TEST(SlotBook, ItsOwnBoardWaitsABoardTooSoonIsNotTakenAndACutBoardIsInterrupted) {
  SlotBook book(std::chrono::seconds(3));
  const auto t0 = SlotBook::Clock::time_point{};
  const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
  const auto slot = [&] { return book.Slots().at("1-1.2"); };
  book.Scan({{"1-1.2", "001:007"}}, true, at(0));
  EXPECT_TRUE(slot().HoldsItsBoard());
  book.Finished("1-1.2", SlotState::kInterrupted, "interrupted at RCDB block 3", at(1000));
  book.Scan({{"1-1.2", "001:007"}}, true, at(1200));
  EXPECT_TRUE(slot().HoldsItsBoard());
  EXPECT_DOUBLE_EQ(book.RearmIn("1-1.2", at(1200)), 3.0);
  EXPECT_EQ(book.Text("1-1.2", at(1200), false),
            "interrupted: interrupted at RCDB block 3, waiting for removal");
  book.Scan({}, true, at(2000));
  EXPECT_FALSE(slot().HoldsItsBoard());
  EXPECT_DOUBLE_EQ(book.RearmIn("1-1.2", at(2500)), 2.5);
  book.Scan({{"1-1.2", "001:008"}}, true, at(3000));  // another board, too soon
  EXPECT_TRUE(slot().present);
  EXPECT_FALSE(slot().HoldsItsBoard());
  EXPECT_EQ(slot().state, SlotState::kInterrupted);
  book.Scan({}, true, at(4000));
  book.Scan({}, true, at(7000));  // re-armed
  EXPECT_EQ(book.RearmIn("1-1.2", at(7000)), 0);
  book.Scan({{"1-1.2", "001:009"}}, true, at(7100));
  EXPECT_TRUE(slot().HoldsItsBoard());
}

TEST(SlotBook, AFailedSlotSaysWhyAndCountsDownOnATerminal) {
  SlotBook book(std::chrono::seconds(3));
  const auto t0 = SlotBook::Clock::time_point{};
  book.Scan({{"1-1.3", "001:004"}}, true, t0);
  book.Progress("1-1.3", "FV", 45);
  EXPECT_EQ(book.Text("1-1.3", t0, true), "writing FV 45%");
  book.Finished("1-1.3", SlotState::kFailed, "设备拒绝开始下载", t0);
  book.Scan({}, true, t0 + std::chrono::milliseconds(500));
  EXPECT_EQ(book.Text("1-1.3", t0 + std::chrono::milliseconds(900), true),
            "failed: 设备拒绝开始下载, re-arms in 3 s");
  book.Scan({}, true, t0 + std::chrono::milliseconds(3600));  // re-armed
  EXPECT_TRUE(book.Scan({{"1-1.3", "001:005"}}, false, t0 + std::chrono::seconds(4)).empty());
  EXPECT_EQ(book.Text("1-1.3", t0 + std::chrono::seconds(4), true), "board not taken");
}

}  // namespace
