// The application object: finds setting.ini beside the executable, runs the main
// dialog modally and ends the process when it closes.
#pragma once

#include <QApplication>

class CTamsoltApp : public QApplication {
  Q_OBJECT

 public:
  CTamsoltApp(int& argc, char** argv);
  ~CTamsoltApp() override;

  // Runs the main dialog until it closes; the dialog's teardown closes the device link.
  int Run();
};
