#include "batch_window_session.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/main_window.h"
#include "app/qt_host.h"
#include "settings/settings.h"
#include "record/transfer_context.h"

namespace fs = std::filesystem;

const char* StoredName(std::uint8_t kind) {
  return kind < kKindCount ? DeviceImageName(static_cast<RowKind>(kind)) : "";
}

int DeviceSummary::CommandCount(int code) const {
  const auto found = commands.find(code);
  return found == commands.end() ? 0 : found->second;
}

BatchWindowSession::BatchWindowSession(fs::path receivedDir) : receivedDir_(std::move(receivedDir)) {
  if (!folder_.isValid()) return;
  std::error_code error;
  fs::create_directories(receivedDir_, error);
  const fs::path ini = fs::path(folder_.path().toStdString()) / "setting.ini";
  // The shipped file: the window and its boxes carry the real texts.
  fs::copy_file(TAMSOLT_SHIPPED_SETTINGS, ini, fs::copy_options::overwrite_existing, error);
  if (error) return;
  g_iniPath = ini.string();
  ready_ = true;
}

BatchWindowSession::~BatchWindowSession() {
  dialog_.reset();  // its teardown closes the device link
  g_iniPath.clear();
}

fs::path BatchWindowSession::PlaceRow(std::uint8_t kind, const Bytes& file, const char* extension) {
  const fs::path path = fs::path(folder_.path().toStdString()) / (std::string(KindName(kind)) + extension);
  if (!WriteFileBytes(path, file) || !WriteSetting("setup", KindName(kind), "1") ||
      !WriteSetting("PATH", KindName(kind), path.string())) {
    return {};
  }
  rowFiles_[kind] = path;
  return path;
}

std::vector<SourceFile> BatchWindowSession::Sources() const {
  std::vector<SourceFile> sources;
  for (const auto& [kind, path] : rowFiles_) sources.push_back({static_cast<RowKind>(kind), path});
  return sources;
}

bool BatchWindowSession::ReplaceFile(std::uint8_t kind, const Bytes& file) {
  const auto row = rowFiles_.find(kind);
  return row != rowFiles_.end() && WriteFileBytes(row->second, file);
}

CTamsoltDlg& BatchWindowSession::OpenWindow() {
  dialog_ = std::make_unique<CTamsoltDlg>();
  dialog_->EngineHostImpl().SetMessagePresenter(
      [this](const std::string& text, const std::string& title, MessageIcon icon) {
        boxes_.push_back({text, title, icon});
      });
  dialog_->show();
  QApplication::processEvents();
  return *dialog_;
}

void BatchWindowSession::ClearReceived() const {
  std::error_code error;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    fs::remove(receivedDir_ / (std::string(StoredName(kind)) + ".bin"), error);
  }
  fs::remove(receivedDir_ / "summary.txt", error);
}

bool BatchWindowSession::PressBatchAndWait(int timeoutMs) {
  ClearReceived();
  auto* button = qobject_cast<QPushButton*>(dialog_->Control(1047));
  if (button == nullptr) return false;
  const std::size_t boxesBefore = boxes_.size();

  QEventLoop loop;
  bool timedOut = false;
  // A box with no transfer running: the batch ended one way or another (a
  // time-out box in the middle of a loop leaves busy set and is waited past).
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (boxes_.size() > boxesBefore && g_transfer.busy == 0) loop.quit();
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    loop.quit();
  });
  poll.start(10);
  guard.start(timeoutMs);
  QTest::mouseClick(button, Qt::LeftButton);
  loop.exec();
  return !timedOut;
}

std::vector<std::string> BatchWindowSession::LogLines() const {
  std::vector<std::string> lines;
  const QListWidget* log = dialog_->LogList();
  for (int i = 0; i < log->count(); ++i) lines.push_back(log->item(i)->text().toStdString());
  return lines;
}

bool BatchWindowSession::WasReceived(const char* name) const {
  return fs::exists(receivedDir_ / (std::string(name) + ".bin"));
}

Bytes BatchWindowSession::Received(const char* name) const {
  return ReadFileBytes(receivedDir_ / (std::string(name) + ".bin")).value_or(Bytes{});
}

DeviceSummary BatchWindowSession::Summary() const {
  DeviceSummary summary;
  std::ifstream in(receivedDir_ / "summary.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string what;
    words >> what;
    if (what == "exchanges") {
      words >> summary.exchanges;
    } else if (what == "command") {
      std::string code;
      int count = 0;
      words >> code >> count;
      summary.commands[std::stoi(code, nullptr, 16)] = count;
    }
  }
  return summary;
}

void BatchWindowSession::PrintOutcome() const {
  std::printf("  log list:\n");
  for (const std::string& line : LogLines()) std::printf("    %s\n", line.c_str());
  std::printf("  message boxes:\n");
  for (const ShownBox& box : boxes_) std::printf("    [%s] %s\n", box.title.c_str(), box.text.c_str());
  std::printf("  stored by the device in %s:\n", receivedDir_.c_str());
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (WasReceived(StoredName(kind))) {
      std::printf("    %s.bin  %zu bytes\n", StoredName(kind), Received(StoredName(kind)).size());
    }
  }
  std::fflush(stdout);
}
