// The About box (template 100): icon, version text and an OK button that closes
// it, and below them the settings file in use.
#pragma once

#include <QDialog>

class QWidget;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
