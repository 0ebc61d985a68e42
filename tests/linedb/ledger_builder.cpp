#include "ledger_builder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "ledger/ledger.h"

namespace {

constexpr const char* kKinds[] = {"BOOT", "HOST", "RCDB", "FONT", "LANG", "FV", "BMP", "PIC", "TDB"};

}  // namespace

TestLedger::TestLedger() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tamsolt-ledger-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
  folder_ = pattern;
  path_ = folder_ + "/ledger.sqlite";
  // The ledger's own schema, made as the programs make it; rows go in below by hand.
  std::string error;
  EXPECT_NE(Ledger::Open(path_, error), nullptr) << error;
  EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
  sqlite3_busy_timeout(db_, 30000);  // a forwarder may be marking a board meanwhile
}

TestLedger::~TestLedger() {
  sqlite3_close(db_);
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

void TestLedger::Exec(const std::string& sql) {
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
      << (message ? message : "") << "\n" << sql;
  sqlite3_free(message);
}

std::vector<std::string> TestLedger::Column(const std::string& sql) {
  std::vector<std::string> values;
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    values.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
  }
  sqlite3_finalize(statement);
  return values;
}

std::string TestLedger::Uuid(int number) {
  char text[40];
  std::snprintf(text, sizeof text, "0f0e0d0c-0b0a-4908-8706-%012x", number);
  return text;
}

std::string TestLedger::Digest(int board, int image) {
  char text[80];
  std::snprintf(text, sizeof text, "%032x%032x", board, image);
  return text;
}

void TestLedger::AddBoard(int number, bool finished, const std::string& settingsPath,
                          const std::string& startedUtc) {
  sqlite3_stmt* board = nullptr;
  sqlite3_prepare_v2(db_,
                     "INSERT INTO boards (id, uuid, started_utc, finished_utc, seconds, station,"
                     " slot, device, program, version, operator, settings_path, settings_sha256,"
                     " outcome_code, outcome, message) VALUES (?, ?, ?, ?, 2.5, 'station-7', '1-1.3',"
                     " '001:004', 'tamsolt-cli', '1.0.8', 'op''; drop', ?, ?, ?, ?, '')",
                     -1, &board, nullptr);
  sqlite3_bind_int(board, 1, number);
  sqlite3_bind_text(board, 2, Uuid(number).c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(board, 3, startedUtc.c_str(), -1, SQLITE_TRANSIENT);
  if (finished) sqlite3_bind_text(board, 4, "2026-12-08T14:03:09.625Z", -1, SQLITE_STATIC);
  sqlite3_bind_blob(board, 5, settingsPath.data(), static_cast<int>(settingsPath.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(board, 6, Digest(number, 99).c_str(), -1, SQLITE_TRANSIENT);
  if (finished) sqlite3_bind_int(board, 7, 0);
  if (finished) sqlite3_bind_text(board, 8, "done", -1, SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(board), SQLITE_DONE) << sqlite3_errmsg(db_);
  sqlite3_finalize(board);

  for (int image = 0; image < 9; ++image) {
    sqlite3_stmt* row = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, started_utc,"
                       " finished_utc, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &row, nullptr);
    const std::string path = "/share/images/" + std::string(kKinds[image]) + ".bin";
    const bool reached = image < 8;  // the last one was not reached
    sqlite3_bind_int(row, 1, number);
    sqlite3_bind_text(row, 2, kKinds[image], -1, SQLITE_STATIC);
    sqlite3_bind_blob(row, 3, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(row, 4, 1000 + image);
    sqlite3_bind_text(row, 5, Digest(number, image).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(row, 6, image % 2);
    if (reached) sqlite3_bind_text(row, 7, "2026-12-08T14:03:08.000Z", -1, SQLITE_STATIC);
    if (reached) sqlite3_bind_text(row, 8, "2026-12-08T14:03:08.500Z", -1, SQLITE_STATIC);
    sqlite3_bind_text(row, 9, reached ? "written" : "not reached", -1, SQLITE_STATIC);
    EXPECT_EQ(sqlite3_step(row), SQLITE_DONE) << sqlite3_errmsg(db_);
    sqlite3_finalize(row);
  }
}
