// tamsolt-sim-run: runs a program against the emulated VX742 on the USB bus
// of an umockdev testbed. The program uses Debian's libusb 0.1 unchanged; the
// umockdev preload library turns its opens, reads and ioctls on
// /dev/bus/usb into calls of this process, where one DeviceModel answers them
// on the real clock.
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/umockdev_bus.h"
#include "sim/umockdev_control.h"
#include "sim/umockdev_ioctl_handler.h"
#include "sim/umockdev_run_options.h"
#include "sim/umockdev_run_report.h"

namespace {

// How often the bus is brought in line with the model: a device that leaves
// or comes back shows up on the bus within this time.
constexpr guint kBusSyncPeriodMs = 2;

struct Run {
  GMainLoop* loop = nullptr;
  sim::EmulatedBus* bus = nullptr;
  sim::ControlChannel* control = nullptr;
  GPid program = 0;
  bool programEnded = false;
  int waitStatus = 0;
  bool busFailureShown = false;
};

// The runner is the subreaper of everything its program starts: a process
// the program leaves behind (a station's child writing a board) is still
// writing, so the devices are served until the last of them has ended.
// Polled with the bus: GLib watches only the children it knows by pid.
void ReapChildren(Run& run) {
  int status = 0;
  pid_t pid = 0;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    if (pid == run.program) {
      run.waitStatus = status;
      run.programEnded = true;
    }
  }
  if (pid < 0 && errno == ECHILD) g_main_loop_quit(run.loop);
}

gboolean OnBusSync(gpointer data) {
  auto* run = static_cast<Run*>(data);
  std::string error;
  if (!run->bus->Sync(error) && !run->busFailureShown) {
    std::fprintf(stderr, "tamsolt-sim-run: %s\n", error.c_str());
    run->busFailureShown = true;
  }
  ReapChildren(*run);
  return G_SOURCE_CONTINUE;
}

gboolean OnControl(gint, GIOCondition, gpointer data) {
  auto* run = static_cast<Run*>(data);
  for (const std::string& line : run->control->TakeLines()) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    sim::ControlCommand command;
    std::string error;
    const bool done = sim::ParseControlCommand(line, command, error) &&
                      (command.kind == sim::ControlCommand::Kind::Plug
                           ? run->bus->PlugOnCommand(command.port, error)
                           : run->bus->UnplugNow(command.port, error));
    if (!done) std::fprintf(stderr, "tamsolt-sim-run: control: %s\n", error.c_str());
  }
  return G_SOURCE_CONTINUE;
}

// The runner stops when its program stops: an interrupt goes on to the
// program. Once the program has ended, it stops the wait for what the
// program left behind.
gboolean OnTerminate(gpointer data) {
  auto* run = static_cast<Run*>(data);
  if (run->programEnded) {
    g_main_loop_quit(run->loop);
  } else {
    kill(run->program, SIGTERM);
  }
  return G_SOURCE_CONTINUE;
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> environment;
  gchar** entries = g_get_environ();
  for (gchar** entry = entries; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  g_strfreev(entries);
  return environment;
}

// NULL-terminated pointers into strings, for g_spawn.
std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// name: "device" alone, "device 2" on a station.
void PrintSummary(sim::SharedDevice& device, const std::string& name) {
  device.With([&name](sim::DeviceState& state, sim::Micros) {
    const sim::Summary& summary = state.model.GetSummary();
    std::fprintf(stderr,
                 "tamsolt-sim-run: %s received %d frames (%d rejected, %d repeated), "
                 "%d exchanges ended, %d restarts\n",
                 name.c_str(), summary.frames, summary.rejectedFrames, summary.retries,
                 summary.exchangesEnded, summary.restarts);
    return 0;
  });
}

// --report: "device K port PORT frames N rejected N interface HOW", a line each.
bool WriteReport(const std::string& path,
                 const std::vector<std::shared_ptr<sim::SharedDevice>>& devices,
                 const std::vector<std::string>& ports) {
  std::ofstream report(path);
  for (std::size_t k = 0; k < devices.size(); ++k) {
    devices[k]->With([&](sim::DeviceState& state, sim::Micros) {
      report << sim::ReportLine(k + 1, ports[k], state.model.GetSummary(),
                                state.model.LatestClaimEnd())
             << "\n";
      return 0;
    });
  }
  report.flush();
  return static_cast<bool>(report);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(sim::RunUsage().c_str(), stdout);
    return 0;
  }
  sim::RunOptions options;
  std::string error;
  if (!sim::ParseRunOptions(args, options, error)) {
    std::fprintf(stderr, "tamsolt-sim-run: %s\n%s", error.c_str(), sim::RunUsage().c_str());
    return 2;
  }

  std::vector<std::shared_ptr<sim::SharedDevice>> devices;
  bool usbFileSystem = true;
  for (std::size_t k = 0; k < options.devices.size(); ++k) {
    devices.push_back(std::make_shared<sim::SharedDevice>(
        options.devices[k], sim::DeviceOutputDir(options.outputDir, k, options.devices.size())));
    if (options.devices[k].noBusses) usbFileSystem = false;
  }
  int exitCode = 0;
  {
    sim::ControlChannel control;
    if (!options.controlPath.empty() && !control.Open(options.controlPath, error)) {
      std::fprintf(stderr, "tamsolt-sim-run: %s\n", error.c_str());
      return 2;
    }
    sim::EmulatedBus bus(devices, options.ports, usbFileSystem, options.arrivesOnCommand);
    if (!bus.Sync(error)) {
      std::fprintf(stderr, "tamsolt-sim-run: %s\n", error.c_str());
      return 2;
    }
    // Orphans of the program become the runner's children, to be waited for.
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    std::vector<std::string> environment =
        sim::ProgramEnvironment(CurrentEnvironment(), bus.RootDir());
    std::vector<char*> envp = PointersTo(environment);
    std::vector<char*> programArgv = PointersTo(options.command);

    Run run;
    run.bus = &bus;
    run.control = &control;
    GError* spawnError = nullptr;
    const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                G_SPAWN_CHILD_INHERITS_STDIN);
    if (!g_spawn_async(nullptr, programArgv.data(), envp.data(), flags, nullptr, nullptr,
                       &run.program, &spawnError)) {
      std::fprintf(stderr, "tamsolt-sim-run: cannot start %s: %s\n", options.command[0].c_str(),
                   spawnError->message);
      g_error_free(spawnError);
      return 127;
    }

    run.loop = g_main_loop_new(nullptr, FALSE);
    const guint busSync = g_timeout_add(kBusSyncPeriodMs, OnBusSync, &run);
    const guint onInterrupt = g_unix_signal_add(SIGINT, OnTerminate, &run);
    const guint onTerminate = g_unix_signal_add(SIGTERM, OnTerminate, &run);
    const guint onControl = control.Descriptor() >= 0
                                ? g_unix_fd_add(control.Descriptor(), G_IO_IN, OnControl, &run)
                                : 0;
    g_main_loop_run(run.loop);
    if (onControl != 0) g_source_remove(onControl);
    g_source_remove(onTerminate);
    g_source_remove(onInterrupt);
    g_source_remove(busSync);
    g_main_loop_unref(run.loop);
    g_spawn_close_pid(run.program);
    exitCode = sim::ExitCodeOfWaitStatus(run.waitStatus);
    // The devices' threads end before the testbed they answer for.
    for (const auto& device : devices) device->StopServing();
  }
  if (!options.reportPath.empty() && !WriteReport(options.reportPath, devices, options.ports)) {
    std::fprintf(stderr, "tamsolt-sim-run: cannot write the report %s\n",
                 options.reportPath.c_str());
  }
  if (options.summary) {
    for (std::size_t k = 0; k < devices.size(); ++k) {
      PrintSummary(*devices[k], devices.size() == 1 ? "device" : "device " + std::to_string(k + 1));
    }
  }
  return exitCode;
}
