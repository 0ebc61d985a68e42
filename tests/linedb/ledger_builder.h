// A station's local ledger made by the test, with the schema both sides
// agreed on (the ledger library writes the same file on a station).
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

class TestLedger {
 public:
  TestLedger();  // a new file in a temporary folder
  ~TestLedger();
  TestLedger(const TestLedger&) = delete;
  TestLedger& operator=(const TestLedger&) = delete;

  const std::string& Path() const { return path_; }
  // A board with nine written images; finished unless told otherwise. The
  // uuid is made from number; settingsPath is stored as a blob.
  void AddBoard(int number, bool finished = true, const std::string& settingsPath = "/etc/line3.ini",
                const std::string& startedUtc = "2026-12-08T14:03:07.125Z");
  // Runs SQL on the file (changes made by the test).
  void Exec(const std::string& sql);
  // The first column of every row of a query.
  std::vector<std::string> Column(const std::string& sql);

  static std::string Uuid(int number);
  static std::string Digest(int board, int image);

 private:
  std::string folder_;
  std::string path_;
  sqlite3* db_ = nullptr;
};
