#include "app/qt_host.h"

#include <algorithm>
#include <utility>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QString>
#include <QTimer>

#include "app/main_window.h"
#include "engine/precise_pause.h"
#include "engine/progress_log.h"

QtEngineHost::QtEngineHost(CTamsoltDlg& dialog)
    : dialog_(dialog),
      recording_([this](const std::string& line) { ShowPermissionHint(line); },
                 [this](const std::string& line) {
                   // From the forwarder's thread: the log list is the window's.
                   QMetaObject::invokeMethod(
                       this, [this, line] { ShowPermissionHint(line); }, Qt::QueuedConnection);
                 }) {}

QtEngineHost::~QtEngineHost() = default;

void QtEngineHost::SetMessagePresenter(MessagePresenter presenter) {
  presenter_ = std::move(presenter);
}

void QtEngineHost::SetTimerHandler(TimerHandler handler) { timerHandler_ = std::move(handler); }

void QtEngineHost::Tick(std::uint32_t id) {
  if (timerHandler_) {
    timerHandler_(id);
  } else {
    OnTimer(id);
  }
}

bool QtEngineHost::IsTimerRunning(std::uint32_t id) const {
  const auto found = timers_.find(id);
  return found != timers_.end() && found->second->isActive();
}

void QtEngineHost::ShowMessage(const std::string& text, const std::string& title,
                               MessageIcon icon) {
  recording_.BoxComing(text, title);
  if (presenter_) {
    presenter_(text, title, icon);
  } else {
    ShowMessageBox(text, title, icon);
  }
}

void QtEngineHost::ShowPermissionHint(const std::string& text) {
  AppendLogLine(TimeText() + text);
  SelectLogLine(LogLineCount() - 1);
}

void QtEngineHost::ShowMessageBox(const std::string& text, const std::string& title,
                                  MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                  QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                  &dialog_);
  box.exec();
}

void QtEngineHost::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
  auto& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    // Window timers tick at their period; a coarse timer may drift by 5%.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer.get(), &QTimer::timeout, this, [this, id] { Tick(id); });
  }
  timer->start(static_cast<int>(periodMs));  // restarts a running timer
}

void QtEngineHost::KillTimer(std::uint32_t id) {
  if (const auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

void QtEngineHost::Sleep(std::uint32_t ms) { PauseAtLeast(std::uint64_t{ms} * 1000); }

void QtEngineHost::PumpMessages() { QCoreApplication::processEvents(); }

void QtEngineHost::SetBarRange(std::uint16_t low, std::uint16_t high) {
  // An empty range would turn Qt's bar into a busy indicator; keep it an empty bar.
  dialog_.ProgressBar()->setRange(low, high > low ? high : low + 1);
}

void QtEngineHost::SetBarPos(int pos) {
  // Qt ignores a position outside the range; the bar clamps it instead.
  QProgressBar* bar = dialog_.ProgressBar();
  bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
}

void QtEngineHost::AppendLogLine(const std::string& line) {
  dialog_.LogList()->addItem(QString::fromStdString(line));
}

int QtEngineHost::LogLineCount() { return dialog_.LogList()->count(); }

void QtEngineHost::SelectLogLine(int index) {
  QListWidget* list = dialog_.LogList();
  list->setCurrentRow(index);
  if (QListWidgetItem* item = list->item(index)) list->scrollToItem(item);
}

void QtEngineHost::ClearLog() { dialog_.LogList()->clear(); }

void QtEngineHost::SetStatusText(const std::string& text) {
  recording_.StatusShown();
  dialog_.StatusLine()->setText(QString::fromStdString(text));
}

bool QtEngineHost::IsRowChecked(std::uint8_t kind) { return dialog_.RowCheck(kind)->isChecked(); }

std::string QtEngineHost::RowPath(std::uint8_t kind) {
  return dialog_.PathField(kind)->text().toStdString();
}
