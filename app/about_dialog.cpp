#include "app/about_dialog.h"

#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_builder.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  const auto controls = BuildDialog(*this, AboutDialogTemplate());
  if (auto* ok = qobject_cast<QPushButton*>(controls.at(1))) {
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  }
}
