// The station window as a program of its own, for the tests that signal it
// from outside (a terminal's Ctrl-C, SIGKILL): main.cpp's window and stop
// signals, started at once with the CLI named by the first argument.
#include <QApplication>

#include "station/station_window.h"
#include "station/stop_signals.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  StationWindow window(StationSettings{}, QString::fromLocal8Bit(argv[1]), QStringLiteral("/tmp/setting.ini"));
  StopSignals stopSignals;
  QObject::connect(&stopSignals, &StopSignals::received, &window, &StationWindow::StopSignalled);
  window.show();
  window.Start();
  return QApplication::exec();
}
