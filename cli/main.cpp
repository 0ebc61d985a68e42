// tamsolt-cli: the window's batch download without a display. Rows from
// setting.ini or the command line, log lines on standard output, progress and
// message boxes on standard error (with --json: events on standard output
// instead), and an exit code per way the run ended (tamsolt-cli --help,
// README "Command line"). One device, every device (--all) or a station that
// runs until stopped (--watch); stop signals are read in its loops.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/board_recording.h"
#include "cli/cli_rows.h"
#include "cli/device_presence.h"
#include "cli/line_forwarding.h"
#include "cli/line_live.h"
#include "cli/log_file.h"
#include "cli/permission_grace.h"
#include "cli/pin_command.h"
#include "cli/recipe_commands.h"
#include "cli/report_command.h"
#include "cli/run_events.h"
#include "cli/settings_check.h"
#include "cli/terminal_host.h"
#include "engine/progress_log.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "link/device_choice.h"
#include "link/operator_messages.h"
#include "link/usb_link.h"
#include "link/usb_port.h"
#include "record/transfer_context.h"
#include "run/cli_options.h"
#include "run/device_port.h"
#include "run/recipe_run.h"
#include "run/stop_signals.h"
#include "settings/settings.h"
#include "settings/settings_location.h"
#include "supervisor/child_process.h"
#include "supervisor/station_run.h"
#include "supervisor/station_watch.h"

namespace {

using Clock = std::chrono::steady_clock;

// A device met while --wait runs, or within this time of the run's start, may
// still lack its udev permission.
constexpr auto kPermissionGrace = std::chrono::seconds(2);

// The file LocateSettingsFile would choose, without making the user's copy.
std::string SettingsFileInUse() {
  const std::string besideProgram = GetExeFolder() + "/setting.ini";
  std::error_code error;
  const std::string user = UserSettingsFolder();
  if ((MayWrite(GetExeFolder()) &&
       (!std::filesystem::exists(besideProgram, error) || MayWrite(besideProgram))) ||
      user.empty()) {
    return besideProgram;
  }
  return user + "/setting.ini";
}

int Interrupted(int signal) {
  std::fprintf(stderr, "tamsolt-cli: interrupted by %s before any device was written\n",
               StopSignalName(signal));
  return AsInt(ExitCode::kInterrupted);
}

// A box of this program's own, before any engine runs.
void ShowBox(const char* text) {
  NoteFailureReason(text);
  if (JsonEventsOn()) {
    EmitEvent("message", {{"title", ApplicationTitle()}, {"text", text}});
  } else {
    ShowOperatorMessage(text, ApplicationTitle());
  }
}

int ListDevices(const CliOptions& options) {
  const std::vector<DeviceAddress> devices = AttachedDevices(options.device);
  for (const DeviceAddress& device : devices) {
    if (JsonEventsOn()) {
      EmitDeviceFound(device);
    } else {
      std::printf("%s\n", device.Text().c_str());
    }
  }
  return AsInt(devices.empty() ? ExitCode::kDeviceNotFound : ExitCode::kDone);
}

int WriteEveryDevice(const CliOptions& options, const LiveRecipe& recipe) {
  int signal = 0;
  const std::vector<DeviceAddress> devices = options.waitSeconds
                                                 ? SettledDevices(options.settleSeconds, signal)
                                                 : AttachedDevices(std::nullopt);
  if (signal != 0) return Interrupted(signal);
  if (devices.empty()) {
    ShowBox(kTextDeviceNotFound);
    return AsInt(ExitCode::kDeviceNotFound);
  }
  for (const DeviceAddress& device : devices) EmitDeviceFound(device);
  // The parent forwards as each child ends; the children forward nothing.
  std::unique_ptr<BacklogForwarder> forwarder = StationForwarder(options.ledger);
  std::unique_ptr<StationLive> live = StationLiveFor(options);
  const StationRun run = RunStation(kThisProgram, options, devices, [&forwarder] {
    if (forwarder) forwarder->Request();
  }, LiveListeners(live.get(), recipe));
  live.reset();  // the station stopped: said before the table
  if (!JsonEventsOn()) {  // the device-result events say the same
    std::printf("%s", ResultTable(run).c_str());
    std::fflush(stdout);
  }
  forwarder.reset();  // waits for the forward under way (bounded by its time-outs)
  return StationExitCode(run);
}

int WriteOneDevice(const CliOptions& options, Clock::time_point graceEnd, const LiveRecipe& recipe) {
  if (options.device) ChooseDevice(FollowDevice(*options.device));
  BoardRecording recording(options);  // the ledger (cli/board_recording.h)
  RecordingTerminalHost host(recording.Recorder(), RowsFor(options), options.logFile,
                             options.device ? options.device->Text() : std::string());
  if (!host.LogFileOpen()) {
    std::fprintf(stderr, "tamsolt-cli: cannot append to %s\n", options.logFile.c_str());
    return AsInt(ExitCode::kBadCommandLine);
  }
  g_transfer.busy = 0;
  g_transfer.expectedImageTag = 0;
  SetEngineHost(&host);
  const int signal = OpenWithPermissionGrace(
      graceEnd, [&host](const std::string& line) { host.AppendLogLine(TimeText() + line); });
  SetEngineHost(&host);  // its boxes again, after the quiet tries
  // The board on the line page, once there is one (a child of --all: its parent says it).
  std::optional<LiveSingleRun> live;
  if (g_transfer.interfaceClaimed != 0 && g_transfer.foundDevice != nullptr) {
    if (auto publisher = StationLiveFor(options)) {
      const DeviceAddress device = AddressOf(*g_transfer.foundDevice);
      const std::string port = PortOf(device);
      live.emplace(std::move(publisher), recipe, device.Text(), port.empty() ? device.Text() : port);
      host.ListenToProgress([&live](const std::string& item, int percent) { live->Writing(item, percent); });
      host.ListenToInterruptedExit([&live](int code, const std::string& where) { live->Ended(code, where); });
    }
  }
  if (signal != 0) host.Interrupt(signal);
  if (JsonEventsOn() && g_transfer.interfaceClaimed != 0 && g_transfer.foundDevice != nullptr) {
    const DeviceAddress device = AddressOf(*g_transfer.foundDevice);
    EnableJsonEvents(device.Text(), PortOf(device));  // now known when it was not named
    EmitEvent("device-opened", {{"address", device.Text()}});
  }
  const ExitCode code = host.RunBatch();
  SetEngineHost(nullptr);
  CloseDevice();  // as the window's teardown does
  const int exitCode = recording.Finish(AsInt(code));
  if (live) live->Ended(exitCode, exitCode == AsInt(code) ? NotedFailureReason() : std::string());
  // The board's row is finished: send it and any backlog (never changes the code).
  if (recording.Opened()) ForwardAfterRun(options.ledger);
  return exitCode;
}

int Run(const CliOptions& given) {
  const Clock::time_point started = Clock::now();
  CliOptions options = given;  // a recipe sets the rows
  if (options.help) {
    std::fputs(CliUsage().c_str(), stdout);
    std::printf("\nSettings file in use: %s\n", options.settingsFile.empty()
                                                     ? SettingsFileInUse().c_str()
                                                     : options.settingsFile.c_str());
    return AsInt(ExitCode::kDone);
  }
  // The same file the window would use: beside the program while this user
  // may change it there, else the user's own copy.
  if (options.settingsFile.empty()) LocateSettingsFile();
  if (!options.settingsFile.empty()) {
    if (std::string error; !SettingsFileUsable(options.settingsFile, error)) {
      return EarlyError(AsInt(ExitCode::kBadCommandLine), error);
    }
    g_iniPath = options.settingsFile;
  }
  // The ledger's commands write no device (cli/report_command.h, cli/pin_command.h).
  if (options.ledger.report) return RunReportCommand(options);
  if (options.ledger.exportFormat) return RunExportCommand(options);
  if (options.ledger.pin) return RunPinCommand(options);
  if (options.ledger.sync) return RunLedgerSync(options);
  if (options.recipe.Command()) return RunRecipeCommand(options);
  // The recipe's version, before any device is touched (run/recipe_run.h).
  std::unique_ptr<RecipeSource> recipes;
  std::optional<RecipeTake> firstTake;  // then the one after --wait
  if (const int code = PrepareRecipeRun(options, recipes, firstTake); code != 0) return code;
  EmitRunStart(options);
  // A station says it among its notes, as it says every later switch.
  const auto recipeNote = [&options](const std::string& text) {
    if (!JsonEventsOn()) {
      std::printf("tamsolt-cli: %s\n", text.c_str());
    } else if (options.watch) {
      EmitEvent("station", {{"text", "tamsolt-cli: " + text}});
    }
  };
  if (firstTake) TellRecipeTake(*firstTake, std::nullopt, recipeNote);
  // Before any device is touched, and once for all the children of --all.
  if (std::string error; !options.logFile.empty() && !CanAppendTo(options.logFile, error)) {
    return EarlyError(AsInt(ExitCode::kBadCommandLine),
                      "cannot append to the log file " + options.logFile + ": " + error);
  }
  Clock::time_point graceEnd = started + kPermissionGrace;
  if (options.waitSeconds) {
    int signal = 0;
    switch (WaitForDevice(options.device, *options.waitSeconds, signal)) {
      case WaitEnd::kInterrupted: return Interrupted(signal);
      case WaitEnd::kTimedOut:
        std::fprintf(stderr, "tamsolt-cli: no VX742%s appeared within %g s\n",
                     options.device ? (" at " + options.device->Text()).c_str() : "",
                     *options.waitSeconds);
        return AsInt(ExitCode::kNoDeviceInTime);
      case WaitEnd::kArrived: break;
    }
    graceEnd = std::max(Clock::now() + kPermissionGrace,
                        started + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(*options.waitSeconds)));
    // The board is there: the version active now is the one it gets.
    if (recipes && !options.watch) {
      if (const int code = RetakeRecipeAfterWait(options, *recipes, recipeNote, firstTake); code != 0) return code;
    }
  }
  if (options.list) return ListDevices(options);
  if (options.all) return WriteEveryDevice(options, LiveRecipeOf(options, firstTake));
  if (options.watch) {
    // Each slot is a hub port as sysfs names it: without any, no board would ever be taken.
    if (!SysfsListsUsbDevices()) {
      return EarlyError(AsInt(ExitCode::kBadCommandLine),
                        "--watch takes each board by its hub port in /sys/bus/usb/devices, and "
                        "this machine lists no USB device there: write the boards with --all");
    }
    std::unique_ptr<BacklogForwarder> forwarder = StationForwarder(options.ledger);
    // What the station does now, for the line page: written beside the boards, never before them.
    std::unique_ptr<StationLive> live = StationLiveFor(options);
    return WatchStation(kThisProgram, options, [&forwarder] {
      if (forwarder) forwarder->Request();
    }, recipes.get(), LiveListeners(live.get(), LiveRecipeOf(options, firstTake)));
  }
  return WriteOneDevice(options, graceEnd, LiveRecipeOf(options, firstTake));
}

}  // namespace

int main(int argc, char** argv) {
  InstallStopSignals();
  CliOptions options;
  std::string error;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!ParseCliOptions(arguments, options, error)) {
    // A reader that asked for events learns why there will be none.
    if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
      EnableJsonEvents({}, {});
    }
    EarlyError(AsInt(ExitCode::kBadCommandLine), error);
    std::fputs("(tamsolt-cli --help shows the options)\n", stderr);
    if (JsonEventsOn()) EmitOutcome(AsInt(ExitCode::kBadCommandLine));
    return AsInt(ExitCode::kBadCommandLine);
  }
  if (options.json && !options.help) {
    EnableJsonEvents(options.device ? options.device->Text() : std::string(),
                     options.device ? PortOf(*options.device) : std::string());
  }
  const int code = Run(options);
  if (JsonEventsOn()) EmitOutcome(code);
  return code;
}
