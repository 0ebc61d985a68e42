#include "station/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t g_writeEnd = -1;
// The window's own process: a child between fork and exec still has the
// handler, and must not speak for the window.
volatile sig_atomic_t g_owner = 0;
struct sigaction g_previous[std::size(kStopSignals)];

extern "C" void OnStopSignal(int signalNumber) {
  if (getpid() != g_owner) return;
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t written = write(g_writeEnd, &byte, 1);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no pipe: the signals keep their defaults
  readEnd_ = ends[0];
  writeEnd_ = ends[1];
  g_writeEnd = writeEnd_;
  g_owner = getpid();
  notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::Drain);

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &action, &g_previous[i]);
  }
}

StopSignals::~StopSignals() {
  if (readEnd_ < 0) return;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &g_previous[i], nullptr);
  }
  g_writeEnd = -1;
  notifier_.reset();
  close(readEnd_);
  close(writeEnd_);
}

void StopSignals::Drain() {
  unsigned char byte = 0;
  // Each signal is one byte: two Ctrl-Cs are two stops.
  while (read(readEnd_, &byte, 1) == 1) emit received(byte);
}
