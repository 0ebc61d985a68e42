#include "cli/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

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
  if (g_fd < 0) {
    std::this_thread::sleep_for(timeout);
    return 0;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const int signal = TakeStopSignal()) return signal;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd fd{g_fd, POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
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
