// The one `tamsolt-cli --watch --json` the station window runs. Only its
// standard output is read, line by line; its human output on stderr goes to
// the window's own stderr. Stopping is by signal, as the CLI documents: the
// first SIGTERM takes no new board, a second interrupts the boards writing.
// The CLI runs in a session of its own, so only this object's signals stop it
// (never a terminal's Ctrl-C as well), and never outlives this object or the
// window's process.
#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

// Long enough for the CLI's own bounded stop of its children (5 s, then SIGKILL).
inline constexpr int kShutdownBoundMs = 15000;

class CliProcess : public QObject {
  Q_OBJECT

 public:
  explicit CliProcess(QObject* parent = nullptr);
  ~CliProcess() override;

  // False (and failed() emitted) when the program cannot be started.
  bool Start(const QString& program, const QStringList& arguments);
  bool Running() const;
  // Asks the CLI to stop: the first call takes no new board, the next interrupts.
  void RequestStop();
  int StopsSent() const { return stopsSent_; }
  // Interrupts whatever runs and waits at most boundMs for the CLI to end;
  // past that, kills it. Returns at once when none runs.
  void Shutdown(int boundMs);
  qint64 Pid() const;

 signals:
  void lineRead(const QByteArray& line);
  void ended(int exitCode, bool crashed);
  void failed(const QString& why);

 private:
  // Passes each whole line on (none once quiet) and notes the CLI's "stopping".
  void ReadLines();

  QProcess process_;
  int stopsSent_ = 0;
  bool stopTaken_ = false;  // the CLI said it is stopping: a second signal is its own
  bool quiet_ = false;      // being destroyed: no line goes out
};
