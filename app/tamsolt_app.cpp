#include "app/tamsolt_app.h"

#include <QMessageBox>

#include "app/app_icon.h"
#include "app/main_window.h"
#include "settings/messages.h"
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

QString CTamsoltApp::RecipeRefusal() {
  const QString recipe = QString::fromStdString(ReadSetting("recipe", "line"));
  if (recipe.isEmpty()) return {};
  return QStringLiteral("设置文件 %1 的 [line] 指定了配方 %2。本窗口只写它自己的各行，从不写配方，"
                        "也不在配方旁写本地的行：请用工位（tamsolt-cli --recipe %2，或工位窗口）写板。")
      .arg(QString::fromStdString(g_iniPath), recipe);
}

int CTamsoltApp::Run() {
  if (const QString refusal = RecipeRefusal(); !refusal.isEmpty()) {
    QMessageBox::critical(nullptr, QString::fromStdString(MessageText(kMsgTitle)), refusal);
    return 2;
  }
  CTamsoltDlg dialog;
  dialog.exec();  // the result tells nothing: the only way out is closing
  return 0;
}
