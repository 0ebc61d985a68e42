#include "cli/station_run.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/child_process.h"
#include "cli/device_port.h"
#include "cli/exit_codes.h"
#include "cli/json_events.h"
#include "cli/stop_signals.h"
#include "link/usb_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long stopped children may take to release their devices before they are killed.
constexpr auto kStopBound = std::chrono::seconds(5);
constexpr int kScanPeriodMs = 250;

struct Child {
  ChildProcess process;
  std::string device;
  std::string port;  // where the device comes back after a restart
};

// A child's lines with its device in front; its events (--json) whole, they
// name it already, and never half of one that was cut short.
void PassOn(Child& child, ChildOutput& output) {
  const bool events = JsonEventsOn() && &output == &child.process.out;
  std::FILE* to = &output == &child.process.out ? stdout : stderr;
  ReadLines(output, !events, [&](const std::string& line) {
    if (events) {
      PassOnEventLine(line);
    } else {
      std::fprintf(to, "[%s] %s\n", child.device.c_str(), line.c_str());
    }
  });
  std::fflush(to);
}

void Reap(Child& child, StationResult& result) {
  result.exitCode = ReapChild(child.process);
  result.seconds = std::chrono::duration<double>(Clock::now() - child.process.started).count();
  EmitEvent("device-result",
            {{"exit_code", result.exitCode},
             {"exit_name", ExitCodeMeaning(result.exitCode)},
             {"seconds", result.seconds}},
            child.device, child.port);
}

void SignalAll(const std::vector<Child>& children, int signal) {
  for (const Child& child : children) SignalChild(child.process, signal);
}

// A device the run knows: one it writes or named late, or one on the port of
// a child still writing (its board restarting). A board in the port of a
// child that has ended is a new board: named late.
bool Known(const std::vector<Child>& children, const std::vector<DeviceAddress>& devices,
           const std::vector<DeviceAddress>& late, const PortedDevice& device) {
  const auto same = [&](const DeviceAddress& other) { return other.SameAs(device.address); };
  if (std::any_of(devices.begin(), devices.end(), same) ||
      std::any_of(late.begin(), late.end(), same)) {
    return true;
  }
  return !device.port.empty() &&
         std::any_of(children.begin(), children.end(), [&](const Child& child) {
           return child.port == device.port && !child.process.reaped;
         });
}

}  // namespace

StationRun RunStation(const std::string& program, const CliOptions& options,
                      const std::vector<DeviceAddress>& devices,
                      const std::function<void()>& childEnded) {
  std::vector<Child> children;
  StationRun run;
  for (const DeviceAddress& device : devices) {
    children.push_back({StartChild(program, ChildArguments(options, device)),
                        device.Text(), PortOf(device)});
    run.results.push_back({device, kChildNotStarted, 0});
    if (children.back().process.pid < 0) {  // never started: said now, nothing to wait for
      Child& child = children.back();
      std::fprintf(stderr, "[%s] cannot start its writer: %s\n", child.device.c_str(),
                   child.process.startError.c_str());
      Reap(child, run.results.back());
      if (childEnded) childEnded();
    }
  }
  std::optional<Clock::time_point> killAt;
  Clock::time_point nextScan = Clock::now();
  for (;;) {
    std::vector<pollfd> fds{{StopSignalFd(), POLLIN, 0}};
    std::vector<std::pair<std::size_t, ChildOutput*>> owners;  // child index, output
    for (std::size_t c = 0; c < children.size(); ++c) {
      for (ChildOutput* output : {&children[c].process.out, &children[c].process.err}) {
        if (output->fd < 0) continue;
        fds.push_back({output->fd, POLLIN, 0});
        owners.emplace_back(c, output);
      }
    }
    if (owners.empty()) break;
    const int ready = poll(fds.data(), fds.size(), kScanPeriodMs);
    if (const int signal = TakeStopSignal()) {
      // The first is passed on, so the children stop as a single run does; a
      // second ends them at once.
      SignalAll(children, run.interrupted ? SIGKILL : signal);
      if (!run.interrupted) killAt = Clock::now() + kStopBound;
      run.interrupted = true;
      const auto running = std::count_if(children.begin(), children.end(),
                                         [](const Child& c) { return !c.process.reaped; });
      std::fprintf(stderr, "tamsolt-cli: %s: stopping %ld device(s)\n", StopSignalName(signal),
                   static_cast<long>(running));
      EmitEvent("stopping", {{"signal", StopSignalName(signal)}, {"running", running}});
    }
    if (killAt && Clock::now() >= *killAt) {
      SignalAll(children, SIGKILL);
      killAt.reset();
    }
    if (!run.interrupted && Clock::now() >= nextScan) {
      nextScan = Clock::now() + std::chrono::milliseconds(kScanPeriodMs);
      for (const PortedDevice& device : ListMatchingDevicesWithPorts()) {
        // A device whose port this look could not read is arriving or leaving: a later look names it.
        if (device.port.empty() || Known(children, devices, run.late, device)) continue;
        run.late.push_back(device.address);
        EmitEvent("device-late", {{"address", device.address.Text()}}, device.address.Text(),
                  device.port);
      }
    }
    if (ready <= 0) continue;
    for (std::size_t i = 0; i < owners.size(); ++i) {
      if (fds[i + 1].revents == 0) continue;
      Child& child = children[owners[i].first];
      PassOn(child, *owners[i].second);
      if (!child.process.OutputOpen()) {
        Reap(child, run.results[owners[i].first]);
        if (childEnded) childEnded();
      }
    }
  }
  return run;
}

std::string ResultTable(const StationRun& run) {
  std::string table = "device    result                          time\n";
  for (const StationResult& result : run.results) {
    char row[128];
    const std::string outcome =
        std::to_string(result.exitCode) + " " + ExitCodeMeaning(result.exitCode);
    std::snprintf(row, sizeof row, "%-9s %-31s %.1f s\n", result.device.Text().c_str(),
                  outcome.c_str(), result.seconds);
    table += row;
  }
  for (const DeviceAddress& device : run.late) {
    table += device.Text() + "   not written: came after the others had started\n";
  }
  return table;
}

int StationExitCode(const StationRun& run) {
  if (run.interrupted) return AsInt(ExitCode::kInterrupted);
  if (!run.late.empty()) return AsInt(ExitCode::kSomeDeviceFailed);
  bool recordLost = false;
  for (const StationResult& result : run.results) {
    if (result.exitCode == AsInt(ExitCode::kRecordLost)) {
      recordLost = true;
    } else if (result.exitCode != AsInt(ExitCode::kDone)) {
      return AsInt(ExitCode::kSomeDeviceFailed);
    }
  }
  return AsInt(recordLost ? ExitCode::kRecordLost : ExitCode::kDone);
}
