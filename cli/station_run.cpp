#include "cli/station_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/device_port.h"
#include "cli/device_presence.h"
#include "cli/exit_codes.h"
#include "cli/json_events.h"
#include "cli/stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long stopped children may take to release their devices before they are killed.
constexpr auto kStopBound = std::chrono::seconds(5);
constexpr int kScanPeriodMs = 250;

// One output stream of a child, passed on line by line with its device in
// front; a child's events (--json) are passed on whole, they name it already.
struct Stream {
  int fd = -1;
  std::FILE* to = nullptr;
  std::string prefix;
  std::string pending;
};

struct Child {
  pid_t pid = -1;
  bool reaped = false;
  std::string device;
  std::string port;  // where the device comes back after a restart
  Stream out;
  Stream err;
  Clock::time_point started;
};

void PassOn(Stream& stream, bool atEnd) {
  std::size_t start = 0;
  for (std::size_t newline; (newline = stream.pending.find('\n', start)) != std::string::npos;
       start = newline + 1) {
    std::fprintf(stream.to, "%s%.*s\n", stream.prefix.c_str(), static_cast<int>(newline - start),
                 stream.pending.c_str() + start);
  }
  stream.pending.erase(0, start);
  // A child cut short may leave half an event: it is not passed on as one.
  if (atEnd && !stream.pending.empty() && !(JsonEventsOn() && stream.to == stdout)) {
    std::fprintf(stream.to, "%s%s\n", stream.prefix.c_str(), stream.pending.c_str());
  }
  if (atEnd) stream.pending.clear();
  std::fflush(stream.to);
}

// Reads what is there; closes the stream at its end (not on an interrupted read).
void Drain(Stream& stream) {
  char buffer[4096];
  const ssize_t n = read(stream.fd, buffer, sizeof buffer);
  if (n > 0) {
    stream.pending.append(buffer, static_cast<std::size_t>(n));
    PassOn(stream, false);
    return;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  PassOn(stream, true);
  close(stream.fd);
  stream.fd = -1;
}

Child Start(const std::string& program, const std::vector<std::string>& args,
            const DeviceAddress& device) {
  Child child;
  child.device = device.Text();
  child.port = PortOf(device);
  int out[2];
  int err[2];
  // Close-on-exec: a later child must not hold this one's pipes open.
  if (pipe2(out, O_CLOEXEC) != 0) return child;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return child;
  }
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  child.started = Clock::now();
  const pid_t parent = getpid();
  child.pid = fork();
  if (child.pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(AsInt(ExitCode::kInterrupted));  // the parent is gone already
    ResetStopSignalsForExec();
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (child.pid > 0) setpgid(child.pid, child.pid);  // either side may come first
  close(out[1]);
  close(err[1]);
  if (child.pid < 0) {
    close(out[0]);
    close(err[0]);
    return child;
  }
  const std::string prefix = "[" + child.device + "] ";
  child.out = {out[0], stdout, JsonEventsOn() ? std::string() : prefix, {}};
  child.err = {err[0], stderr, prefix, {}};
  return child;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Once a child has closed its output it has ended or is about to.
void Reap(Child& child, StationResult& result) {
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0) {
    if (errno != EINTR) return;
  }
  child.reaped = true;
  result.exitCode = ExitCodeOf(status);
  result.seconds = std::chrono::duration<double>(Clock::now() - child.started).count();
  EmitEvent("device-result",
            {{"exit_code", result.exitCode},
             {"exit_name", ExitCodeMeaning(result.exitCode)},
             {"seconds", result.seconds}},
            child.device, child.port);
}

// Never a reaped child: its pid may belong to another process by now.
void SignalAll(std::vector<Child>& children, int signal) {
  for (const Child& child : children) {
    if (child.pid > 0 && !child.reaped) kill(-child.pid, signal);
  }
}

bool Known(const std::vector<Child>& children, const std::vector<DeviceAddress>& devices,
           const std::vector<DeviceAddress>& late, const DeviceAddress& device) {
  const auto same = [&](const DeviceAddress& other) { return other.SameAs(device); };
  if (std::any_of(devices.begin(), devices.end(), same) ||
      std::any_of(late.begin(), late.end(), same)) {
    return true;
  }
  const std::string port = PortOf(device);
  return !port.empty() && std::any_of(children.begin(), children.end(),
                                      [&](const Child& child) { return child.port == port; });
}

}  // namespace

StationRun RunStation(const std::string& program, const CliOptions& options,
                      const std::vector<DeviceAddress>& devices) {
  std::vector<Child> children;
  StationRun run;
  for (const DeviceAddress& device : devices) {
    children.push_back(Start(program, ChildArguments(options, device), device));
    run.results.push_back({device, 127, 0});
  }
  std::optional<Clock::time_point> killAt;
  Clock::time_point nextScan = Clock::now();
  for (;;) {
    std::vector<pollfd> fds{{StopSignalFd(), POLLIN, 0}};
    std::vector<std::pair<std::size_t, Stream*>> owners;  // child index, stream
    for (std::size_t c = 0; c < children.size(); ++c) {
      for (Stream* stream : {&children[c].out, &children[c].err}) {
        if (stream->fd < 0) continue;
        fds.push_back({stream->fd, POLLIN, 0});
        owners.emplace_back(c, stream);
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
                                         [](const Child& c) { return !c.reaped; });
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
      for (const DeviceAddress& device : AttachedDevices(std::nullopt)) {
        if (Known(children, devices, run.late, device)) continue;
        run.late.push_back(device);
        EmitEvent("device-late", {{"address", device.Text()}}, device.Text(), PortOf(device));
      }
    }
    if (ready <= 0) continue;
    for (std::size_t i = 0; i < owners.size(); ++i) {
      if (fds[i + 1].revents == 0) continue;
      Child& child = children[owners[i].first];
      Drain(*owners[i].second);
      if (child.out.fd < 0 && child.err.fd < 0) Reap(child, run.results[owners[i].first]);
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
