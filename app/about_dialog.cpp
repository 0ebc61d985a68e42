#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_builder.h"
#include "settings/settings.h"

namespace {

// A line under the template's controls: which setting.ini this program uses,
// the shipped one beside it or the user's own copy.
void AddSettingsFileLine(QDialog& dialog) {
  const DialogBaseUnits units = BaseUnitsOf(dialog.font());
  const int margin = DluToPixelsX(7, units);
  const int top = dialog.height();
  const int lineHeight = DluToPixelsY(10, units);
  auto* line = new QLabel(&dialog);
  line->setObjectName(QStringLiteral("settingsFile"));
  line->setGeometry(margin, top, dialog.width() - 2 * margin, lineHeight);
  line->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QString text = QStringLiteral("设置文件: ") + QString::fromStdString(g_iniPath);
  line->setToolTip(text);
  line->setText(line->fontMetrics().elidedText(text, Qt::ElideMiddle, line->width()));
  dialog.setFixedSize(dialog.width(), top + lineHeight + margin);
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  const auto controls = BuildDialog(*this, AboutDialogTemplate());
  if (auto* ok = qobject_cast<QPushButton*>(controls.at(1))) {
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  }
  AddSettingsFileLine(*this);
}
