// The runner's command line, the program's environment and its exit code.
#include "sim/umockdev_run_options.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/umockdev_control.h"
#include "sim/umockdev_run_report.h"

namespace {

using Strings = std::vector<std::string>;

bool Contains(const Strings& list, const std::string& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

int CountWithPrefix(const Strings& list, const std::string& prefix) {
  return static_cast<int>(std::count_if(list.begin(), list.end(), [&](const std::string& s) {
    return s.compare(0, prefix.size(), prefix) == 0;
  }));
}

TEST(RunOptions, FaultsAndOutputFolderComeBeforeTheProgram) {
  sim::RunOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParseRunOptions(
      {"--absent", "--silent=2:3", "--out=/tmp/received", "--", "prog", "-x", "--claim-fails"},
      options, error))
      << error;
  EXPECT_TRUE(options.devices[0].absent);
  EXPECT_EQ(options.devices[0].silentFromFrame, 2);
  EXPECT_EQ(options.devices[0].silentReplies, 3);
  EXPECT_EQ(options.outputDir, "/tmp/received");
  EXPECT_TRUE(options.summary);
  // What follows "--" is the program's, even when it looks like a fault.
  EXPECT_FALSE(options.devices[0].claimFails);
  EXPECT_EQ(options.command, (Strings{"prog", "-x", "--claim-fails"}));
}

TEST(RunOptions, EachDeviceOfAStationHasItsOwnFaultsAndFolder) {
  sim::RunOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParseRunOptions({"--fault-on=3:--silent=3:2", "--latency-ms=5", "--devices", "3",
                                    "--fault-on=1:--absent", "--", "prog"},
                                   options, error))
      << error;
  ASSERT_EQ(options.devices.size(), 3u);
  EXPECT_TRUE(options.devices[0].absent);
  EXPECT_FALSE(options.devices[1].absent);
  EXPECT_EQ(options.devices[1].silentFromFrame, -1);
  EXPECT_EQ(options.devices[2].silentFromFrame, 3);
  EXPECT_EQ(options.devices[2].silentReplies, 2);
  for (const sim::Faults& faults : options.devices) EXPECT_EQ(faults.replyLatency, 5000);
  EXPECT_EQ(sim::DeviceOutputDir("/r", 1, 3), "/r/device-2");
  EXPECT_EQ(sim::DeviceOutputDir("/r", 0, 1), "/r");
  EXPECT_EQ(sim::DeviceOutputDir("", 1, 3), "");

  for (const Strings& args :
       {Strings{"--devices", "0", "--", "prog"}, Strings{"--devices=x", "--", "prog"},
        Strings{"--fault-on=2:--absent", "--", "prog"}, Strings{"--fault-on=0:--absent", "--", "prog"},
        Strings{"--devices=2", "--fault-on=1:--bogus", "--", "prog"},
        Strings{"--devices=2", "--fault-on=--absent", "--", "prog"}}) {
    sim::RunOptions refused;
    EXPECT_FALSE(sim::ParseRunOptions(args, refused, error)) << args[0] << " " << args[1];
  }
}

// --plug adds a board on a port for a time, after the devices of --devices.
TEST(RunOptions, PlugsAddBoardsOnTheirPortsForTheirTimes) {
  sim::RunOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParseRunOptions({"--plug=1-1.3:0:2000", "--devices=2", "--plug=1-1.3:2500",
                                    "--fault-on=4:--begin-status=5", "--", "prog"},
                                   options, error))
      << error;
  ASSERT_EQ(options.devices.size(), 4u);
  EXPECT_EQ(options.ports, (Strings{"1-1.1", "1-1.2", "1-1.3", "1-1.3"}));
  EXPECT_EQ(options.devices[1].arriveAfter, 0);
  EXPECT_EQ(options.devices[1].leaveAt, -1);
  EXPECT_EQ(options.devices[2].arriveAfter, 0);
  EXPECT_EQ(options.devices[2].leaveAt, 2'000'000);
  EXPECT_EQ(options.devices[3].arriveAfter, 2'500'000);
  EXPECT_EQ(options.devices[3].leaveAt, -1);
  EXPECT_EQ(options.devices[3].beginStatus, 5);
  EXPECT_EQ(sim::DefaultPortPath(16), "1-3.1");

  ASSERT_TRUE(sim::ParseRunOptions({"--plug=1-4:100", "--", "prog"}, options, error)) << error;
  EXPECT_EQ(options.ports, Strings{"1-4"}) << "--plug alone: no device from --devices";

  for (const Strings& args : {
           Strings{"--plug=1-1.3:0:2000", "--plug=1-1.3:1999", "--", "prog"},  // still there
           Strings{"--plug=1-1.3:500", "--plug=1-1.3:0:600", "--", "prog"},
           Strings{"--devices=3", "--plug=1-1.2:900", "--", "prog"},  // device 2's port
           Strings{"--plug=1-1.3:500:500", "--", "prog"}, Strings{"--plug=1-1.3", "--", "prog"},
           Strings{"--plug=3:500", "--", "prog"}, Strings{"--plug=1-1.3:x", "--", "prog"},
           Strings{"--plug=1-1.3:5:6:7", "--", "prog"}, Strings{"--devices=0", "--", "prog"},
           Strings{"--devices=32", "--plug=1-5:0", "--", "prog"}}) {
    sim::RunOptions refused;
    EXPECT_FALSE(sim::ParseRunOptions(args, refused, error)) << args[0] << " " << args[1];
  }
}

// A board of --plug=PORT:cmd waits for the control channel's plug; only timed
// boards can be checked for overlaps in advance.
TEST(RunOptions, BoardsOnCommandNeedTheControlChannel) {
  sim::RunOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParseRunOptions(
      {"--plug=1-1.3:cmd", "--plug=1-1.3:0:900", "--control=/tmp/c", "--plug=1-1.3:cmd:5000",
       "--report=/tmp/r", "--fault-on=3:--sysfs-lag-ms=250", "--", "prog"},
      options, error))
      << error;
  EXPECT_EQ(options.arrivesOnCommand, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(options.ports, (Strings{"1-1.3", "1-1.3", "1-1.3"}));
  EXPECT_EQ(options.devices[0].arriveAfter, 0);
  EXPECT_EQ(options.devices[0].leaveAt, -1);
  EXPECT_EQ(options.devices[2].leaveAt, 5'000'000);
  EXPECT_EQ(options.devices[2].sysfsLag, 250'000);
  EXPECT_EQ(options.devices[1].sysfsLag, 0);
  EXPECT_EQ(options.controlPath, "/tmp/c");
  EXPECT_EQ(options.reportPath, "/tmp/r");

  for (const Strings& args :
       {Strings{"--plug=1-1.3:cmd", "--", "prog"},  // nobody to say when
        Strings{"--control=", "--plug=1-1.3:cmd", "--", "prog"}, Strings{"--report=", "--", "prog"},
        Strings{"--control=/c", "--plug=1-1.3:cmd:0", "--", "prog"},
        Strings{"--control=/c", "--plug=1-1.3:cmd1", "--", "prog"},
        Strings{"--sysfs-lag-ms=-1", "--", "prog"}, Strings{"--sysfs-lag-ms=", "--", "prog"}}) {
    sim::RunOptions refused;
    EXPECT_FALSE(sim::ParseRunOptions(args, refused, error)) << args[0] << " " << args[1];
  }
}

TEST(ControlCommand, PlugAndUnplugNameAPortAndNothingElse) {
  struct Case {
    const char* line;
    bool ok;
    sim::ControlCommand::Kind kind;
  };
  for (const Case& c :
       {Case{"plug 1-1.3", true, sim::ControlCommand::Kind::Plug},
        Case{" unplug  1-1.3 \r", true, sim::ControlCommand::Kind::Unplug}, Case{"plug", false, {}},
        Case{"plug 3", false, {}}, Case{"plug 1-1.3 now", false, {}}, Case{"pull 1-1.3", false, {}},
        Case{"PLUG 1-1.3", false, {}}}) {
    sim::ControlCommand command;
    std::string error;
    ASSERT_EQ(sim::ParseControlCommand(c.line, command, error), c.ok) << c.line;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.line;
      continue;
    }
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.port, "1-1.3") << c.line;
  }
}

// Writers open, write and close the pipe as they please: a line comes whole,
// and a writer's close is no end of file that would wake the runner for ever.
TEST(ControlChannel, LinesComeWholeAcrossWritersThatComeAndGo) {
  char folder[] = "/tmp/control-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/control";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  sim::ControlChannel channel;
  std::string error;
  ASSERT_TRUE(channel.Open(path, error)) << error;
  const auto writeOnce = [&path](const std::string& text) {
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(writer);
  };
  writeOnce("plu");
  EXPECT_TRUE(channel.TakeLines().empty());
  pollfd waiting{channel.Descriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 0), 0) << "nothing to read once the writer has gone";
  writeOnce("g 1-1.3\nunplug 1-1.3\n");
  EXPECT_EQ(channel.TakeLines(), (Strings{"plug 1-1.3", "unplug 1-1.3"}));
  sim::ControlChannel notAPipe;
  EXPECT_FALSE(notAPipe.Open(folder, error)) << "a folder is no pipe";
  unlink(path.c_str());
  rmdir(folder);
}

TEST(RunReport, EachLineNamesTheDeviceItsCountsAndHowTheInterfaceWentFree) {
  sim::Summary summary;
  summary.frames = 123;
  summary.rejectedFrames = 4;
  summary.retries = 7;
  summary.exchangesEnded = 1;
  EXPECT_EQ(sim::ReportLine(2, "1-1.3", summary, sim::ClaimEnd::Released),
            "device 2 port 1-1.3 frames 123 rejected 4 interface released ended 1");
  for (const auto& [end, word] : {std::pair{sim::ClaimEnd::NeverClaimed, "never-claimed"},
                                  std::pair{sim::ClaimEnd::Held, "closed-while-claimed"},
                                  std::pair{sim::ClaimEnd::Closed, "closed-while-claimed"},
                                  std::pair{sim::ClaimEnd::LeftTheBus, "lost-on-leave"}}) {
    EXPECT_EQ(sim::ReportLine(1, "1-1.1", sim::Summary{}, end),
              std::string("device 1 port 1-1.1 frames 0 rejected 0 interface ") + word + " ended 0");
  }
}

TEST(RunOptions, QuietDropsTheSummary) {
  sim::RunOptions options;
  std::string error;
  ASSERT_TRUE(sim::ParseRunOptions({"--quiet", "--", "prog"}, options, error));
  EXPECT_FALSE(options.summary);
}

TEST(RunOptions, MalformedCommandLinesAreRefusedWithAReason) {
  for (const Strings& args : {Strings{"prog"}, Strings{"--absent", "--"},
                              Strings{"--no-such-fault", "--", "prog"},
                              Strings{"--out=", "--", "prog"}}) {
    sim::RunOptions options;
    std::string error;
    EXPECT_FALSE(sim::ParseRunOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(ProgramEnvironment, PreloadComesFirstAndTheTestbedIsNamed) {
  const Strings environment = sim::ProgramEnvironment(
      {"PATH=/usr/bin", "LD_PRELOAD=libearlier.so", "UMOCKDEV_DIR=/stale",
       "ASAN_OPTIONS=detect_leaks=1"},
      "/tmp/umockdev.X");
  EXPECT_TRUE(Contains(environment, "PATH=/usr/bin"));
  EXPECT_TRUE(Contains(environment, "LD_PRELOAD=libumockdev-preload.so.0:libearlier.so"));
  EXPECT_TRUE(Contains(environment, "UMOCKDEV_DIR=/tmp/umockdev.X"));
  EXPECT_EQ(CountWithPrefix(environment, "UMOCKDEV_DIR="), 1);
  // The caller's own ASan options come later, so they win.
  EXPECT_TRUE(Contains(environment, "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"));
  EXPECT_EQ(CountWithPrefix(environment, "LD_PRELOAD="), 1);
  EXPECT_EQ(CountWithPrefix(environment, "ASAN_OPTIONS="), 1);
}

TEST(ProgramEnvironment, WithoutEarlierPreloadOnlyUmockdevIsPreloaded) {
  const Strings environment = sim::ProgramEnvironment({"HOME=/root"}, "/tmp/t");
  EXPECT_TRUE(Contains(environment, "LD_PRELOAD=libumockdev-preload.so.0"));
  EXPECT_TRUE(Contains(environment, "ASAN_OPTIONS=verify_asan_link_order=0"));
  EXPECT_TRUE(Contains(environment, "HOME=/root"));
}

int WaitStatusOfChild(void (*body)()) {
  const pid_t child = fork();
  if (child == 0) body();
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST(ExitCode, IsTheProgramsOwnOrTheSignalThatEndedIt) {
  EXPECT_EQ(sim::ExitCodeOfWaitStatus(WaitStatusOfChild([] { _exit(3); })), 3);
  EXPECT_EQ(sim::ExitCodeOfWaitStatus(WaitStatusOfChild([] { _exit(0); })), 0);
  EXPECT_EQ(sim::ExitCodeOfWaitStatus(WaitStatusOfChild([] {
              signal(SIGTERM, SIG_DFL);
              raise(SIGTERM);
              _exit(0);
            })),
            128 + SIGTERM);
}

}  // namespace
