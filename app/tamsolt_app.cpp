#include "app/tamsolt_app.h"

#include "app/app_icon.h"
#include "app/main_window.h"
#include "settings/settings.h"
#include "settings/settings_location.h"

CTamsoltApp::CTamsoltApp(int& argc, char** argv) : QApplication(argc, argv) {
  // No application name of our own: boxes of the device link take the executable's name.
  LocateSettingsFile();
  // The classic look of a Windows dialog: group-box captions sit on the frame line,
  // as the rows' layout was drawn for.
  setStyle(QStringLiteral("Windows"));
  setWindowIcon(AppIcon());  // taskbar and every window of the process
}

CTamsoltApp::~CTamsoltApp() { g_iniPath.clear(); }

int CTamsoltApp::Run() {
  CTamsoltDlg dialog;
  dialog.exec();  // the result tells nothing: the only way out is closing
  return 0;
}
