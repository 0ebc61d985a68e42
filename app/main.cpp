// Tamsolt: writes images to a VX742 over USB.
//   tamsolt                     the download window
//   tamsolt --screenshot FILE   draws the window as it starts into a PNG and exits
#include <cstdio>

#include <QPixmap>
#include <QString>
#include <QStringList>

#include "app/main_window.h"
#include "app/tamsolt_app.h"

namespace {

int SaveScreenshot(const QString& file) {
  CTamsoltDlg dialog;
  dialog.show();
  QApplication::processEvents();
  if (!dialog.grab().save(file, "PNG")) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CTamsoltApp app(argc, argv);
  const QStringList args = CTamsoltApp::arguments();
  if (const qsizetype at = args.indexOf(QStringLiteral("--screenshot")); at >= 0) {
    if (at + 1 >= args.size()) {
      std::fprintf(stderr, "usage: tamsolt --screenshot FILE.png\n");
      return 2;
    }
    return SaveScreenshot(args.at(at + 1));
  }
  return app.Run();
}
