// The application object: finds setting.ini beside the executable, runs the main
// dialog modally and ends the process when it closes.
#pragma once

#include <QApplication>
#include <QString>

class CTamsoltApp : public QApplication {
  Q_OBJECT

 public:
  CTamsoltApp(int& argc, char** argv);
  ~CTamsoltApp() override;

  // Runs the main dialog until it closes; the dialog's teardown closes the device link.
  // A settings file that names a recipe is refused first, with the reason.
  int Run();

  // Why the window will not write with the settings file in use (it names a
  // recipe in section [line], which the station writes: the window has only
  // its own rows); "" when it may.
  static QString RecipeRefusal();
};
