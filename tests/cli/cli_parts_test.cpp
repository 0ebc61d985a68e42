// The parts of tamsolt-cli that need no device: the command line, the
// progress lines, --all's children and closing table, --wait and the timers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/device_presence.h"
#include "cli/progress_bar.h"
#include "cli/station_run.h"
#include "cli/timer_loop.h"

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
  EXPECT_TRUE(options.device->SameAs({"001", "012"}));
  EXPECT_EQ(*options.waitSeconds, 2.5);
  // A child of --all gets the same rows, settings and log file, and its device.
  EXPECT_EQ(ChildArguments(options, {"001", "004"}),
            (Args{"--boot", "b.bin", "--tdb", "t.tdb", "--settings", "s.ini", "--log-file",
                  "run.log", "--device", "001:004"}));
  CliOptions lookOnce;  // --wait 0: look once, do not wait
  ASSERT_TRUE(ParseCliOptions({"--wait=0"}, lookOnce, error)) << error;
  EXPECT_EQ(*lookOnce.waitSeconds, 0.0);
}

TEST(CliOptions, MisuseIsRefusedWithAReason) {
  for (const Args& args : {Args{"--rcdb"}, Args{"--rcdb", "a", "--rcdb", "b"}, Args{"--x"},
                           Args{"--device", "12"}, Args{"--device", "a:b"}, Args{"--device", "1:x"},
                           Args{"--device", "1:"}, Args{"--wait", "-1"},
                           Args{"--wait", "soon"}, Args{"--all", "--device", "1:2"},
                           Args{"--list", "--rcdb", "a"}, Args{"--list=yes"}}) {
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

TEST(StationRun, TableNamesEachDeviceItsResultAndTime) {
  EXPECT_EQ(ResultTable({{{"001", "002"}, 0, 2.34}, {{"001", "003"}, 8, 0.5}}),
            "device    result                          time\n"
            "001:002   0 done                          2.3 s\n"
            "001:003   8 transfer gave up              0.5 s\n");
}

// A child's lines are passed on each with its device once, however many one
// read brings; a child ended by a signal counts 128 + the signal, which no
// exit code of its own means.
TEST(StationRun, LinesReadTogetherArePrefixedOnceAndASignalIsNoExitCode) {
  const std::string child = testing::TempDir() + "station_child.sh";
  std::ofstream(child) << "#!/bin/sh\nprintf 'one\\ntwo\\n'\nkill -KILL $$\n";
  ASSERT_EQ(chmod(child.c_str(), 0700), 0);
  testing::internal::CaptureStdout();
  const std::vector<StationResult> results = RunStation(child, CliOptions{}, {{"001", "002"}});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[001:002] one\n[001:002] two\n");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].exitCode, 128 + SIGKILL);
  EXPECT_NE(ResultTable(results).find("001:002   137 failed"), std::string::npos);
}

// --wait takes fractions of a second: 0.9 s are waited out, not cut to none.
TEST(DevicePresence, AWaitOfLessThanASecondLastsItsFullTime) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitForDevice(DeviceAddress{"255", "255"}, 0.9));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
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

}  // namespace
