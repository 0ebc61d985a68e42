#include "run/stop_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

int g_fd = -1;

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void InstallStopSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = StopSet();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  g_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

int StopSignalFd() { return g_fd; }

int TakeStopSignal() {
  signalfd_siginfo info{};
  if (g_fd < 0 || read(g_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}

int WaitForStopSignal(std::chrono::milliseconds timeout) {
  return WaitForStopSignalUntil(std::chrono::steady_clock::now() + timeout, PauseMethod::kPlain);
}

int WaitForStopSignalUntil(std::chrono::steady_clock::time_point deadline, PauseMethod method) {
  for (;;) {
    if (const int signal = TakeStopSignal()) return signal;
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    const auto micros = static_cast<std::uint64_t>(left.count());
    if (g_fd < 0) {
      PauseAtLeast(micros, method);
      return 0;
    }
    // Cut short by something readable that is not a stop signal: wait out the rest.
    if (!PauseUnlessReadable(micros, g_fd, method)) return TakeStopSignal();
  }
}

void ResetStopSignalsForExec() {
  ::signal(SIGPIPE, SIG_DFL);
  const sigset_t set = StopSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

const char* StopSignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
  }
  return "a signal";
}
