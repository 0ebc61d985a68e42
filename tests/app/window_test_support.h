// A main dialog on a private setting.ini, with its message boxes recorded
// instead of shown and its file dialog answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QString>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "app/qt_host.h"
#include "settings/settings.h"
#include "record/transfer_context.h"

struct ShownMessage {
  std::string text;
  std::string title;
  MessageIcon icon;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    g_iniPath = Path("setting.ini");
    g_transfer.busy = 0;
  }
  void TearDown() override {
    g_transfer.busy = 0;
    g_iniPath.clear();
  }

  std::string Path(const char* name) const { return folder_.filePath(name).toStdString(); }

  // The dialog as the operator sees it after start-up.
  std::unique_ptr<CTamsoltDlg> OpenDialog() {
    auto dialog = std::make_unique<CTamsoltDlg>();
    dialog->EngineHostImpl().SetMessagePresenter(
        [this](const std::string& text, const std::string& title, MessageIcon icon) {
          messages_.push_back({text, title, icon});
        });
    dialog->SetFileChooser([this](const std::string& filter) {
      filters_.push_back(filter);
      return nextChoice_;
    });
    dialog->show();
    QApplication::processEvents();
    return dialog;
  }

  static void SetText(int number, const std::string& text) {
    char key[8];
    std::snprintf(key, sizeof key, "S%04d", number);
    ASSERT_TRUE(WriteSetting("Strings", key, text));
  }

  QTemporaryDir folder_;
  std::vector<ShownMessage> messages_;
  std::vector<std::string> filters_;
  std::string nextChoice_;  // what the file dialog answers; empty = cancel
};
