// The main dialog (template 102): nine download rows, the batch button, the log
// list, the status line and the progress bar. It hosts the download engine,
// refuses to close while a transfer runs and closes the device link at teardown.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <QDialog>

#include "app/rows.h"

class QCheckBox;
class QCloseEvent;
class QContextMenuEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QtEngineHost;

class CTamsoltDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTamsoltDlg(QWidget* parent = nullptr);
  ~CTamsoltDlg() override;

  // The control with this template id, or null.
  QWidget* Control(int id) const;
  QProgressBar* ProgressBar() const;
  QListWidget* LogList() const;
  QLabel* StatusLine() const;
  QCheckBox* RowCheck(std::uint8_t kind) const;
  QLineEdit* PathField(std::uint8_t kind) const;
  QPushButton* BrowseButton(std::uint8_t kind) const;
  RowWidgets Row(std::uint8_t kind) const;

  // The engine's host, installed while the dialog lives.
  QtEngineHost& EngineHostImpl() const { return *host_; }
  // Replaces the open-file dialog of the rows (tests choose the file); empty restores it.
  void SetFileChooser(FileChooser chooser);

  // The dialog's menu with the About entry; null when the entry's text is empty.
  std::unique_ptr<QMenu> CreateContextMenu();
  void ShowAboutBox();

  // Enter and Esc: the dialog's OK and Cancel do nothing.
  void accept() override;
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void InitDialog();
  void SetCaptions();
  void ConnectRows();
  void ConnectDownloads();
  std::string ChooseFileWithDialog(const std::string& filter);

  std::map<int, QWidget*> controls_;
  std::unique_ptr<QtEngineHost> host_;
  FileChooser chooseFile_;
};
