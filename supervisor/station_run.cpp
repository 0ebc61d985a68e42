#include "supervisor/station_run.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "events/event_reader.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "ledger/ledger.h"
#include "link/usb_port.h"
#include "run/device_port.h"
#include "run/stop_signals.h"
#include "supervisor/all_run_slots.h"
#include "supervisor/board_slot_line.h"
#include "supervisor/child_process.h"
#include "supervisor/ended_child_row.h"
#include "supervisor/station_ledger.h"
#include "supervisor/station_pacing.h"

namespace {

using Clock = std::chrono::steady_clock;

// The closing look waits this many looks at most for a board whose port sysfs does not give yet.
constexpr int kClosingLooks = 4;

struct Child {
  ChildProcess process;
  std::string device;
  std::string port;  // where the device comes back after a restart
  std::string uuid;  // its board's row in the ledger
  bool endAnswered = false;  // --json: its device answered the end exchange
  std::string item{};        // --json: the item it writes and how far
  int percent = 0;
  std::string failureBox{};  // --json: the box that told it failed
};

// A child's lines with its device in front; its events (--json) whole, they
// name it already, and never half of one that was cut short.
void PassOn(Child& child, ChildOutput& output) {
  const bool events = JsonEventsOn() && &output == &child.process.out;
  std::FILE* to = &output == &child.process.out ? stdout : stderr;
  ReadLines(output, !events, [&](const std::string& line) {
    if (events) {
      const std::optional<StationEvent> event = ParseEventLine(line);
      if (event && event->kind == EventKind::kEndAnswered) child.endAnswered = true;
      if (event && event->kind == EventKind::kProgress) {
        child.item = event->item;
        child.percent = event->percent;
      }
      if (event && event->kind == EventKind::kMessageBox && event->failure) child.failureBox = event->text;
      PassOnEventLine(line);
    } else {
      std::fprintf(to, "[%s] %s\n", child.device.c_str(), line.c_str());
    }
  });
  std::fflush(to);
}

void SignalAll(const std::vector<Child>& children, int signal) {
  for (const Child& child : children) SignalChild(child.process, signal);
}

void NameLate(const std::vector<PortedDevice>& late) {
  for (const PortedDevice& device : late) {
    EmitEvent("device-late", {{"address", device.address.Text()}}, device.address.Text(),
              device.port);
  }
}

class AllRun {
 public:
  AllRun(const CliOptions& options, const std::vector<DeviceAddress>& devices,
         const std::function<void()>& childEnded, StationListeners listeners)
      : options_(options),
        childEnded_(childEnded),
        listeners_(std::move(listeners)),
        slots_(std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(options.rearmAfter)),
               devices) {}

  StationRun Run(const std::string& program, const std::vector<DeviceAddress>& devices);

 private:
  void Reap(Child& child, StationResult& result);
  void Stop(int signal);
  void ClosingLook();
  // The child's slot as the listeners hear it: writing while it runs, then its outcome.
  void Tell(const Child& child, const std::optional<StationResult>& ended, const std::string& message);

  const CliOptions& options_;
  EndedChildRows childRows_{options_.ledger};
  const std::function<void()>& childEnded_;
  StationListeners listeners_;
  AllRunSlots slots_;
  std::vector<Child> children_;
  StationRun run_;
  bool killed_ = false;  // the station sent SIGKILL: what it ended was interrupted by it
  std::optional<Clock::time_point> killAt_;
};

void AllRun::Reap(Child& child, StationResult& result) {
  result.exitCode = ReapChild(child.process);
  result.seconds = std::chrono::duration<double>(Clock::now() - child.process.started).count();
  std::string message;
  if (result.exitCode > 128 && result.exitCode != kChildNotStarted) {
    // A writer killed by the station after a stop was interrupted by it;
    // anything else ended it. One whose device had taken every image wrote
    // its board whatever ended it.
    const bool cut = killed_ && result.exitCode == 128 + SIGKILL;
    if (child.endAnswered) {
      result.exitCode = AsInt(ExitCode::kDone);
    } else if (cut) {
      result.exitCode = AsInt(ExitCode::kInterrupted);
    }
    message = child.endAnswered ? "" : cut ? kKilledAfterStopText : "ended by a signal";
  }
  // A row its writer could not close (a signal, a full disk) is closed as the station saw the end.
  if (result.exitCode != kChildNotStarted) {
    childRows_.Close(child.uuid, result.exitCode,
                     message.empty() ? ExitCodeMeaning(result.exitCode) : message, result.seconds);
  }
  // Where the board is at its outcome decides whether a board on its port later is new: look now.
  NameLate(slots_.Look(ListMatchingDevicesWithPorts(), Clock::now(), false));
  slots_.Ended(child.port, result.exitCode == AsInt(ExitCode::kDone) ||
                               result.exitCode == AsInt(ExitCode::kRecordLost),
               Clock::now());
  EmitEvent("device-result",
            {{"exit_code", result.exitCode},
             {"exit_name", ExitCodeMeaning(result.exitCode)},
             {"seconds", result.seconds}},
            child.device, child.port);
  Tell(child, result, message);
  if (childEnded_) childEnded_();
}

void AllRun::Tell(const Child& child, const std::optional<StationResult>& ended,
                  const std::string& message) {
  if (!listeners_.slotChanged) return;
  const std::string slot = child.port.empty() ? child.device : child.port;
  if (!ended) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - child.process.started);
    listeners_.slotChanged(slot, WritingSlotLine(child.device, child.item, child.percent, seconds.count()));
    return;
  }
  // The box's words when the child said them, else what ended it.
  const bool interrupted = ended->exitCode == AsInt(ExitCode::kInterrupted);
  const bool box = !child.failureBox.empty() && !interrupted;
  const char* kind = box ? "box" : message == kKilledAfterStopText ? "killed" : interrupted ? "interrupted" : "exit";
  listeners_.slotChanged(slot, EndedSlotLine(child.device, ended->exitCode, box ? child.failureBox : message, kind));
}

void AllRun::Stop(int signal) {
  // The first is passed on, so the children stop as a single run does; a
  // second ends them at once.
  if (run_.interrupted) killed_ = true;
  SignalAll(children_, run_.interrupted ? SIGKILL : signal);
  if (!run_.interrupted) killAt_ = Clock::now() + kStopBound;
  run_.interrupted = true;
  const auto running = std::count_if(children_.begin(), children_.end(),
                                     [](const Child& c) { return !c.process.reaped; });
  std::fprintf(stderr, "tamsolt-cli: %s: stopping %ld device(s)\n", StopSignalName(signal),
               static_cast<long>(running));
  EmitEvent("stopping", {{"signal", StopSignalName(signal)}, {"running", running}});
}

// Every board on the bus before the run ends is written or named: a last look
// once the last child has ended, waiting a little for a port sysfs does not
// give yet (a board that has only just come).
void AllRun::ClosingLook() {
  for (int look = 1;; ++look) {
    const std::vector<PortedDevice> bus = ListMatchingDevicesWithPorts();
    if (look == kClosingLooks || !slots_.Unplaced(bus)) {
      NameLate(slots_.Look(bus, Clock::now(), true));
      return;
    }
    if (WaitForStopSignal(std::chrono::milliseconds(kScanPeriodMs)) != 0) {
      NameLate(slots_.Look(bus, Clock::now(), true));
      return;
    }
  }
}

StationRun AllRun::Run(const std::string& program, const std::vector<DeviceAddress>& devices) {
  LookOverLedgerBeforeChildren(options_.ledger);
  for (const DeviceAddress& device : devices) {
    const std::string uuid = NewUuid();
    children_.push_back({StartChild(program, ChildArguments(options_, device, uuid)),
                         device.Text(), PortOf(device), uuid});
    run_.results.push_back({device, kChildNotStarted, 0});
    Child& child = children_.back();
    slots_.Started(child.port, child.device, Clock::now());
    if (child.process.pid >= 0) Tell(child, std::nullopt, {});
    if (child.process.pid < 0) {  // never started: said now, nothing to wait for
      std::fprintf(stderr, "[%s] cannot start its writer: %s\n", child.device.c_str(),
                   child.process.startError.c_str());
      Reap(child, run_.results.back());
    }
  }
  Clock::time_point nextScan = Clock::now();
  for (;;) {
    std::vector<pollfd> fds{{StopSignalFd(), POLLIN, 0}};
    std::vector<std::pair<std::size_t, ChildOutput*>> owners;  // child index, output
    for (std::size_t c = 0; c < children_.size(); ++c) {
      for (ChildOutput* output : {&children_[c].process.out, &children_[c].process.err}) {
        if (output->fd < 0) continue;
        fds.push_back({output->fd, POLLIN, 0});
        owners.emplace_back(c, output);
      }
    }
    if (owners.empty()) break;
    const int ready = poll(fds.data(), fds.size(), kScanPeriodMs);
    if (const int signal = TakeStopSignal()) Stop(signal);
    if (killAt_ && Clock::now() >= *killAt_) {
      killed_ = true;
      SignalAll(children_, SIGKILL);
      killAt_.reset();
    }
    if (Clock::now() >= nextScan) {
      nextScan = Clock::now() + std::chrono::milliseconds(kScanPeriodMs);
      NameLate(slots_.Look(ListMatchingDevicesWithPorts(), Clock::now(), false));
    }
    if (ready <= 0) continue;
    for (std::size_t i = 0; i < owners.size(); ++i) {
      if (fds[i + 1].revents == 0) continue;
      Child& child = children_[owners[i].first];
      const std::pair<std::string, int> before{child.item, child.percent};
      PassOn(child, *owners[i].second);
      if (!child.process.OutputOpen()) {
        Reap(child, run_.results[owners[i].first]);
      } else if (before != std::pair{child.item, child.percent}) {
        Tell(child, std::nullopt, {});
      }
    }
  }
  ClosingLook();
  run_.late = slots_.Late();
  return run_;
}

}  // namespace

StationRun RunStation(const std::string& program, const CliOptions& options,
                      const std::vector<DeviceAddress>& devices,
                      const std::function<void()>& childEnded, StationListeners listeners) {
  return AllRun(options, devices, childEnded, std::move(listeners)).Run(program, devices);
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
  // A stop that came when every board was written already interrupted none.
  const bool cut = std::any_of(run.results.begin(), run.results.end(), [](const StationResult& r) {
    return r.exitCode == AsInt(ExitCode::kInterrupted) || r.exitCode > 128;
  });
  if (run.interrupted && cut) return AsInt(ExitCode::kInterrupted);
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
