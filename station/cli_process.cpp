#include "station/cli_process.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <csignal>

#include "events/event_reader.h"

namespace {

// Without a word from the CLI, the second stop follows the first this late.
constexpr int kSecondStopAfterMs = 2000;

}  // namespace

CliProcess::CliProcess(QObject* parent) : QObject(parent) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  const pid_t window = getpid();
  process_.setChildProcessModifier([window] {
    // A session of its own: a terminal's Ctrl-C reaches the window alone,
    // which stops the CLI with one SIGTERM; the CLI must not count it twice.
    setsid();
    // Should the window itself die, the CLI is told to stop as by a first Stop;
    // a window already gone before that would never tell it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != window) _exit(127);
  });
  connect(&process_, &QProcess::readyReadStandardOutput, this, &CliProcess::ReadLines);
  connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
    ReadLines();  // a half line at the end is a child cut short, not an event
    emit ended(code, status == QProcess::CrashExit);
  });
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) emit failed(process_.errorString());
  });
}

CliProcess::~CliProcess() {
  // No signal from a half-destroyed window.
  disconnect(&process_, nullptr, this, nullptr);
  quiet_ = true;
  Shutdown(kShutdownBoundMs);
}

bool CliProcess::Start(const QString& program, const QStringList& arguments) {
  if (Running()) return false;
  stopsSent_ = 0;
  stopTaken_ = false;
  process_.start(program, arguments, QIODevice::ReadOnly);
  return process_.waitForStarted(5000);
}

bool CliProcess::Running() const { return process_.state() != QProcess::NotRunning; }

qint64 CliProcess::Pid() const { return process_.processId(); }

void CliProcess::RequestStop() {
  if (!Running()) return;
  // QProcess::terminate() is SIGTERM on Linux; QProcess knows whether the pid is
  // still its child, so a reaped one is never signalled.
  process_.terminate();
  ++stopsSent_;
}

void CliProcess::Shutdown(int boundMs) {
  if (!Running()) return;
  // Two signals of one kind sent together may arrive as one: the second goes
  // after a pause, so the CLI surely sees the one that interrupts. No third:
  // that would kill the boards' children before they release their devices.
  if (stopsSent_ == 0) {
    RequestStop();
    // The second goes once the CLI has taken the first (its "stopping"), or
    // after two seconds when it says nothing: on a loaded machine the CLI may
    // take longer than a fixed pause to run its handler, and would then see
    // the two as one (and only let its boards finish).
    QElapsedTimer waited;
    waited.start();
    const int patience = std::min(boundMs, kSecondStopAfterMs);
    while (!stopTaken_ && waited.elapsed() < patience) {
      if (!process_.waitForReadyRead(50) && !Running()) return;
      ReadLines();
    }
    if (!Running()) return;
  }
  if (stopsSent_ == 1) RequestStop();
  if (process_.waitForFinished(boundMs)) return;
  process_.kill();
  process_.waitForFinished(5000);
}

void CliProcess::ReadLines() {
  while (process_.canReadLine()) {
    QByteArray line = process_.readLine();
    line.chop(1);
    if (const auto event = ParseEventLine(line.toStdString()); event && event->kind == EventKind::kStopping) {
      stopTaken_ = true;
    }
    if (!quiet_) emit lineRead(line);
  }
}
