#include "cli/station_run.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "cli/exit_codes.h"

namespace {

using Clock = std::chrono::steady_clock;

// One output stream of a child, passed on line by line.
struct Stream {
  int fd = -1;
  std::FILE* to = nullptr;
  std::string pending;
};

struct Child {
  pid_t pid = -1;
  std::string prefix;
  Stream out;
  Stream err;
  Clock::time_point started;
};

void PassOn(const std::string& prefix, Stream& stream, bool atEnd) {
  std::size_t start = 0;
  for (std::size_t newline; (newline = stream.pending.find('\n', start)) != std::string::npos;
       start = newline + 1) {
    std::fprintf(stream.to, "%s%.*s\n", prefix.c_str(), static_cast<int>(newline - start),
                 stream.pending.c_str() + start);
  }
  stream.pending.erase(0, start);
  if (atEnd && !stream.pending.empty()) {
    std::fprintf(stream.to, "%s%s\n", prefix.c_str(), stream.pending.c_str());
    stream.pending.clear();
  }
  std::fflush(stream.to);
}

// Reads what is there; closes the stream at its end.
void Drain(const std::string& prefix, Stream& stream) {
  char buffer[4096];
  const ssize_t n = read(stream.fd, buffer, sizeof buffer);
  if (n > 0) {
    stream.pending.append(buffer, static_cast<std::size_t>(n));
    PassOn(prefix, stream, false);
    return;
  }
  PassOn(prefix, stream, true);
  close(stream.fd);
  stream.fd = -1;
}

Child Start(const std::string& program, const std::vector<std::string>& args,
            const DeviceAddress& device) {
  Child child;
  child.prefix = "[" + device.Text() + "] ";
  int out[2];
  int err[2];
  if (pipe(out) != 0) return child;
  if (pipe(err) != 0) {
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
  child.pid = fork();
  if (child.pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (child.pid < 0) {
    close(out[0]);
    close(err[0]);
    return child;
  }
  child.out = {out[0], stdout, {}};
  child.err = {err[0], stderr, {}};
  return child;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// Once a child has closed its output it has ended or is about to.
void Reap(const Child& child, StationResult& result) {
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0) {
    if (errno != EINTR) return;
  }
  result.exitCode = ExitCodeOf(status);
  result.seconds = std::chrono::duration<double>(Clock::now() - child.started).count();
}

}  // namespace

std::vector<StationResult> RunStation(const std::string& program, const CliOptions& options,
                                      const std::vector<DeviceAddress>& devices) {
  std::vector<Child> children;
  std::vector<StationResult> results;
  for (const DeviceAddress& device : devices) {
    children.push_back(Start(program, ChildArguments(options, device), device));
    results.push_back({device, 127, 0});
  }
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<std::pair<std::size_t, Stream*>> owners;  // child index, stream
    for (std::size_t c = 0; c < children.size(); ++c) {
      for (Stream* stream : {&children[c].out, &children[c].err}) {
        if (stream->fd < 0) continue;
        fds.push_back({stream->fd, POLLIN, 0});
        owners.emplace_back(c, stream);
      }
    }
    if (fds.empty()) break;
    if (poll(fds.data(), fds.size(), -1) < 0) continue;  // interrupted: poll again
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Child& child = children[owners[i].first];
      Drain(child.prefix, *owners[i].second);
      if (child.out.fd < 0 && child.err.fd < 0) Reap(child, results[owners[i].first]);
    }
  }
  return results;
}

std::string ResultTable(const std::vector<StationResult>& results) {
  std::string table = "device    result                          time\n";
  for (const StationResult& result : results) {
    char row[128];
    const std::string outcome =
        std::to_string(result.exitCode) + " " + ExitCodeMeaning(result.exitCode);
    std::snprintf(row, sizeof row, "%-9s %-31s %.1f s\n", result.device.Text().c_str(),
                  outcome.c_str(), result.seconds);
    table += row;
  }
  return table;
}
