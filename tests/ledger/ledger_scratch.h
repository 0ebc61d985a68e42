// A fresh folder per test for ledger files, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ledger/ledger.h"

class LedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ledger-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/state/tamsolt/ledger.sqlite";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  static BoardRecord Board(const std::string& slot = "1-1.3") {
    BoardRecord board;
    board.uuid = NewUuid();
    board.startedUtc = UtcNow();
    board.station = "station";
    board.slot = slot;
    board.device = "001:004";
    board.program = "tamsolt-cli";
    board.version = "1.0.8";
    board.operatorName = "op";
    board.settingsPath = "/etc/setting.ini";
    board.settingsSha256 = std::string(64, 'a');
    return board;
  }

  // Every board the ledger holds that started at or after since (all when empty).
  static std::vector<StoredBoard> ReadAll(Ledger& ledger, const std::string& since = "") {
    std::vector<StoredBoard> boards;
    std::string error;
    EXPECT_TRUE(ledger.ForEachBoard(since, "", [&](const StoredBoard& b) { boards.push_back(b); }, error))
        << error;
    return boards;
  }

  std::string dir;
  std::string path;
};
