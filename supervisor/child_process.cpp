#include "supervisor/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstring>
#include <cstdio>

#include "events/exit_codes.h"
#include "run/stop_signals.h"

namespace {

ChildProcess NotStarted(const char* call, int error) {
  ChildProcess child;
  child.startError = std::string(call) + ": " + std::strerror(error);
  return child;
}

// argv[0] of a child: what ps shows.
std::string NameOf(const std::string& program) {
  if (program != kThisProgram) return program;
  char path[PATH_MAX];
  const ssize_t n = readlink(kThisProgram, path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : program;
}

}  // namespace

ChildProcess StartChild(const std::string& program, const std::vector<std::string>& args) {
  ChildProcess child;
  int out[2];
  int err[2];
  // Close-on-exec: a later child must not hold this one's pipes open.
  if (pipe2(out, O_CLOEXEC) != 0) return NotStarted("pipe", errno);
  if (pipe2(err, O_CLOEXEC) != 0) {
    child = NotStarted("pipe", errno);
    close(out[0]);
    close(out[1]);
    return child;
  }
  std::vector<std::string> argvStrings{NameOf(program)};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Said by the child when the program cannot run, so its reason reaches the station.
  const std::string execFailed = "tamsolt-cli: cannot run " + program + ": ";
  std::fflush(nullptr);
  child.started = std::chrono::steady_clock::now();
  const pid_t parent = getpid();
  child.pid = fork();
  const int forkError = errno;
  if (child.pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(AsInt(ExitCode::kInterrupted));  // the parent is gone already
    ResetStopSignalsForExec();
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    // Only calls that are safe between fork and exec: no allocation.
    const char* why = strerrordesc_np(errno);
    if (write(STDERR_FILENO, execFailed.data(), execFailed.size()) > 0 && why != nullptr) {
      if (write(STDERR_FILENO, why, std::strlen(why)) > 0) (void)!write(STDERR_FILENO, "\n", 1);
    }
    _exit(kChildNotStarted);
  }
  if (child.pid > 0) setpgid(child.pid, child.pid);  // either side may come first
  close(out[1]);
  close(err[1]);
  if (child.pid < 0) {
    child = NotStarted("fork", forkError);
    close(out[0]);
    close(err[0]);
    return child;
  }
  child.out.fd = out[0];
  child.err.fd = err[0];
  return child;
}

void ReadLines(ChildOutput& output, bool atEndToo,
               const std::function<void(const std::string&)>& onLine) {
  char buffer[4096];
  const ssize_t n = read(output.fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n > 0) output.pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t start = 0;
  for (std::size_t newline; (newline = output.pending.find('\n', start)) != std::string::npos;
       start = newline + 1) {
    onLine(output.pending.substr(start, newline - start));
  }
  output.pending.erase(0, start);
  if (n > 0) return;
  if (atEndToo && !output.pending.empty()) onLine(output.pending);
  output.pending.clear();
  close(output.fd);
  output.fd = -1;
}

int ReapChild(ChildProcess& child) {
  if (child.pid <= 0) {
    child.reaped = true;  // nothing to wait for
    return kChildNotStarted;
  }
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  child.reaped = true;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

void SignalChild(const ChildProcess& child, int signal) {
  if (child.pid > 0 && !child.reaped) kill(-child.pid, signal);
}
