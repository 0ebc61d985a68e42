// The station window's stop signals: SIGINT (a terminal's Ctrl-C), SIGTERM and
// SIGHUP, each delivered as received() by the event loop. The handler only
// writes the signal's number into a pipe; everything else happens in the loop.
// One at a time per process; its end puts the previous handlers back.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class StopSignals : public QObject {
  Q_OBJECT

 public:
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 signals:
  void received(int signalNumber);

 private:
  void Drain();

  int readEnd_ = -1;
  int writeEnd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};
