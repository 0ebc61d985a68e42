#include "app/main_window.h"

#include <array>
#include <utility>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_builder.h"
#include "settings/messages.h"
#include "app/qt_host.h"
#include "engine/batch.h"
#include "engine/engine_host.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
#include "link/usb_link.h"

namespace {

constexpr int kProgressId = 1024;
constexpr int kLogListId = 1061;
constexpr int kStatusLineId = 1051;
constexpr int kBatchButtonId = 1047;

// Group boxes and the batch button whose captions come from the message table.
// The RCDB group box (1064) keeps its built-in caption.
struct CaptionSource {
  int controlId;
  int messageNumber;
};
constexpr std::array kCaptions = {
    CaptionSource{1062, 1}, CaptionSource{1063, 2}, CaptionSource{1065, 3},
    CaptionSource{1066, 4}, CaptionSource{1067, 5}, CaptionSource{1068, 6},
    CaptionSource{1069, 7}, CaptionSource{1070, 8}, CaptionSource{kBatchButtonId, 9},
};

struct DownloadButton {
  int controlId;
  void (*handler)();
};
constexpr std::array kDownloadButtons = {
    DownloadButton{1002, OnDownloadBoot}, DownloadButton{1027, OnDownloadHost},
    DownloadButton{1030, OnDownloadRcdb}, DownloadButton{1033, OnDownloadFont},
    DownloadButton{1036, OnDownloadLang}, DownloadButton{1039, OnDownloadFv},
    DownloadButton{1042, OnDownloadBmp},  DownloadButton{1045, OnDownloadPic},
};

template <class Widget>
Widget* ControlAs(const std::map<int, QWidget*>& controls, int id) {
  const auto found = controls.find(id);
  return found == controls.end() ? nullptr : qobject_cast<Widget*>(found->second);
}

}  // namespace

CTamsoltDlg::CTamsoltDlg(QWidget* parent) : QDialog(parent) {
  // A top-level window with its own taskbar entry, fixed size, minimise but no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  controls_ = BuildDialog(*this, MainDialogTemplate());
  setWindowIcon(AppIcon());

  QPalette statusPalette = StatusLine()->palette();
  statusPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
  StatusLine()->setPalette(statusPalette);

  host_ = std::make_unique<QtEngineHost>(*this);
  g_transfer.busy = 0;
  ConnectRows();
  ConnectDownloads();
  InitDialog();
}

CTamsoltDlg::~CTamsoltDlg() {
  SetEngineHost(nullptr);
  CloseDevice();
}

void CTamsoltDlg::InitDialog() {
  g_transfer.expectedImageTag = 0;
  SetCaptions();
  for (const RowLayout& row : RowLayouts()) RestoreRow(row.kind, Row(row.kind));
  SetEngineHost(host_.get());
  RegisterDeviceNotify(this);
}

void CTamsoltDlg::SetCaptions() {
  for (const CaptionSource& caption : kCaptions) {
    const QString text = QString::fromStdString(MessageText(caption.messageNumber));
    if (auto* group = ControlAs<QGroupBox>(controls_, caption.controlId)) group->setTitle(text);
    if (auto* button = ControlAs<QPushButton>(controls_, caption.controlId)) button->setText(text);
  }
  setWindowTitle(QString::fromStdString(MessageText(kMsgWindowCaption)));
}

void CTamsoltDlg::ConnectRows() {
  for (const RowLayout& layout : RowLayouts()) {
    const std::uint8_t kind = layout.kind;
    // clicked, not toggled: restoring a row must not write the settings back.
    connect(RowCheck(kind), &QCheckBox::clicked, this, [this, kind] { ToggleRow(kind, Row(kind)); });
    connect(BrowseButton(kind), &QPushButton::clicked, this, [this, kind] {
      const FileChooser& chooser =
          chooseFile_ ? chooseFile_
                      : FileChooser([this](const std::string& filter) {
                          return ChooseFileWithDialog(filter);
                        });
      BrowseRow(kind, Row(kind), chooser);
    });
  }
}

void CTamsoltDlg::ConnectDownloads() {
  for (const DownloadButton& button : kDownloadButtons) {
    connect(ControlAs<QPushButton>(controls_, button.controlId), &QPushButton::clicked, this,
            [handler = button.handler] { handler(); });
  }
  connect(ControlAs<QPushButton>(controls_, kBatchButtonId), &QPushButton::clicked, this,
          [] { OnBatchDownload(); });
}

std::string CTamsoltDlg::ChooseFileWithDialog(const std::string& filter) {
  // The filter's name already lists its patterns: Qt must not append them again.
  return QFileDialog::getOpenFileName(this, QString(), QString(), QString::fromStdString(filter),
                                      nullptr, QFileDialog::HideNameFilterDetails)
      .toStdString();
}

void CTamsoltDlg::SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

QWidget* CTamsoltDlg::Control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QProgressBar* CTamsoltDlg::ProgressBar() const {
  return ControlAs<QProgressBar>(controls_, kProgressId);
}

QListWidget* CTamsoltDlg::LogList() const { return ControlAs<QListWidget>(controls_, kLogListId); }

QLabel* CTamsoltDlg::StatusLine() const { return ControlAs<QLabel>(controls_, kStatusLineId); }

QCheckBox* CTamsoltDlg::RowCheck(std::uint8_t kind) const {
  return ControlAs<QCheckBox>(controls_, RowOf(kind).checkId);
}

QLineEdit* CTamsoltDlg::PathField(std::uint8_t kind) const {
  return ControlAs<QLineEdit>(controls_, RowOf(kind).pathId);
}

QPushButton* CTamsoltDlg::BrowseButton(std::uint8_t kind) const {
  return ControlAs<QPushButton>(controls_, RowOf(kind).browseId);
}

RowWidgets CTamsoltDlg::Row(std::uint8_t kind) const {
  return {RowCheck(kind), PathField(kind), BrowseButton(kind)};
}

std::unique_ptr<QMenu> CTamsoltDlg::CreateContextMenu() {
  const QString text = QString::fromUtf8(kAboutMenuText);
  if (text.isEmpty()) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  menu->addSeparator();
  connect(menu->addAction(text), &QAction::triggered, this, &CTamsoltDlg::ShowAboutBox);
  return menu;
}

void CTamsoltDlg::ShowAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

void CTamsoltDlg::accept() {}

void CTamsoltDlg::reject() {}

void CTamsoltDlg::closeEvent(QCloseEvent* event) {
  // The transfer runs on this window's timers; closing now would cut it off.
  if (g_transfer.busy != 0) {
    event->ignore();
    return;
  }
  QDialog::done(QDialog::Rejected);
  event->accept();
}

void CTamsoltDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CTamsoltDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (std::unique_ptr<QMenu> menu = CreateContextMenu()) {
    menu->exec(event->globalPos());
    event->accept();
  }
}
