#include "app/dialog_builder.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QStringList>

#include "app/app_icon.h"

namespace {

QWidget* CreateControl(const DialogControl& control, QWidget* parent) {
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::GroupBox:
      return new QGroupBox(text, parent);
    case ControlKind::AutoCheckBox:
      return new QCheckBox(text, parent);
    case ControlKind::Edit:
      return new QLineEdit(text, parent);
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      // Enter must never press a button, so none is a Qt default button.
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(parent);
      list->setSortingEnabled(false);
      list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      return list;
    }
    case ControlKind::StaticText: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::StaticIcon: {
      auto* label = new QLabel(parent);
      label->setPixmap(AppIcon().pixmap(32, 32));
      return label;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      bar->setRange(0, 100);
      bar->setValue(0);
      return bar;
    }
  }
  return new QWidget(parent);
}

QRect PixelRect(const DialogControl& control, const DialogBaseUnits& units) {
  QRect rect(DluToPixelsX(control.x, units), DluToPixelsY(control.y, units),
             DluToPixelsX(control.cx, units), DluToPixelsY(control.cy, units));
  // An icon control sizes itself to the icon, whatever the template says.
  if (control.kind == ControlKind::StaticIcon) rect.setSize({32, 32});
  return rect;
}

}  // namespace

QFont DialogFont(const DialogTemplate& tmpl) {
  QFont font;
  // The template's face is rarely installed on Linux; these draw the same glyphs.
  font.setFamilies({QString::fromUtf8(tmpl.fontFace), QStringLiteral("SimSun"),
                    QStringLiteral("NSimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Droid Sans Fallback")});
  font.setPointSize(tmpl.pointSize);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabetWidth =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnitsFromMetrics(alphabetWidth, metrics.height());
}

std::map<int, QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl) {
  const QFont font = DialogFont(tmpl);
  dialog.setFont(font);
  dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
  const DialogBaseUnits units = BaseUnitsOf(font);
  dialog.setFixedSize(DluToPixelsX(tmpl.cx, units), DluToPixelsY(tmpl.cy, units));

  std::map<int, QWidget*> controls;
  for (const DialogControl& control : tmpl.controls) {
    QWidget* widget = CreateControl(control, &dialog);
    widget->setGeometry(PixelRect(control, units));
    widget->setEnabled(control.enabled);
    // Hidden before the dialog is first shown, so showing the dialog keeps it hidden.
    widget->setVisible(control.visible);
    if (control.id != kStaticId) {
      widget->setObjectName(QString::number(control.id));
      controls.emplace(control.id, widget);
    }
  }
  return controls;
}
