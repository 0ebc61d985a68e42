// tamsolt-cli: the window's batch download without a display. Rows from
// setting.ini or the command line, log lines on standard output, progress and
// message boxes on standard error, and an exit code per way the run ended
// (tamsolt-cli --help, README "Command line").
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/settings_location.h"
#include "cli/cli_options.h"
#include "cli/board_recording.h"
#include "cli/cli_rows.h"
#include "cli/device_port.h"
#include "cli/device_presence.h"
#include "cli/exit_codes.h"
#include "cli/pin_command.h"
#include "cli/report_command.h"
#include "cli/station_run.h"
#include "cli/terminal_host.h"
#include "record/transfer_context.h"
#include "link/device_choice.h"
#include "link/operator_messages.h"
#include "link/usb_link.h"

namespace {

std::string OwnExecutable() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("tamsolt-cli");
}

int ListDevices(const CliOptions& options) {
  const std::vector<DeviceAddress> devices = AttachedDevices(options.device);
  for (const DeviceAddress& device : devices) std::printf("%s\n", device.Text().c_str());
  return AsInt(devices.empty() ? ExitCode::kDeviceNotFound : ExitCode::kDone);
}

int WriteEveryDevice(const CliOptions& options) {
  const std::vector<DeviceAddress> devices = AttachedDevices(std::nullopt);
  if (devices.empty()) {
    ShowOperatorMessage(kTextDeviceNotFound, ApplicationTitle());
    return AsInt(ExitCode::kDeviceNotFound);
  }
  const std::vector<StationResult> results = RunStation(OwnExecutable(), options, devices);
  std::printf("%s", ResultTable(results).c_str());
  return StationExitCode(results);  // a device done without its record is no failure
}

int WriteOneDevice(const CliOptions& options) {
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
  const ExitCode code = host.RunBatch();
  SetEngineHost(nullptr);
  CloseDevice();  // as the window's teardown does
  return recording.Finish(AsInt(code));
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "tamsolt-cli: %s\n(tamsolt-cli --help shows the options)\n",
                 error.c_str());
    return AsInt(ExitCode::kBadCommandLine);
  }
  // The same file the window would use: beside the program while this user
  // may change it there, else the user's own copy.
  if (options.settingsFile.empty()) LocateSettingsFile();
  if (options.help) {
    std::fputs(CliUsage().c_str(), stdout);
    std::printf("\nSettings file in use: %s\n",
                options.settingsFile.empty() ? g_iniPath.c_str() : options.settingsFile.c_str());
    return AsInt(ExitCode::kDone);
  }
  if (!options.settingsFile.empty()) {
    if (access(options.settingsFile.c_str(), R_OK) != 0) {
      // A mistyped name would otherwise run with no rows and empty messages.
      std::fprintf(stderr, "tamsolt-cli: cannot read the settings file %s\n",
                   options.settingsFile.c_str());
      return AsInt(ExitCode::kBadCommandLine);
    }
    g_iniPath = options.settingsFile;
  }
  // The ledger's commands write no device (cli/report_command.h, cli/pin_command.h).
  if (options.ledger.report) return RunReportCommand(options);
  if (options.ledger.exportFormat) return RunExportCommand(options);
  if (options.ledger.pin) return RunPinCommand(options);
  if (options.waitSeconds && !WaitForDevice(options.device, *options.waitSeconds)) {
    std::fprintf(stderr, "tamsolt-cli: no VX742%s appeared within %g s\n",
                 options.device ? (" at " + options.device->Text()).c_str() : "",
                 *options.waitSeconds);
    return AsInt(ExitCode::kNoDeviceInTime);
  }
  if (options.list) return ListDevices(options);
  if (options.all) return WriteEveryDevice(options);
  return WriteOneDevice(options);
}
