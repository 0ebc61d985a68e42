// What the ledger stores, as plain data: a board (one device written or
// attempted) and the images of its run. Empty time texts are stored as NULL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BoardRecord {
  std::string uuid;
  std::string startedUtc;  // ISO 8601, "2026-12-08T14:03:07.125Z"
  std::string station;     // host name
  std::string slot;        // hub port path, "" when unknown
  std::string device;      // BUS:ADDR
  std::string program;     // "tamsolt" or "tamsolt-cli"
  std::string version;
  std::string operatorName;  // login name
  std::string settingsPath;  // bytes as given
  std::string settingsSha256;
  std::string recipe;     // the recipe written from, "" for none
  int recipeVersion = 0;  // its version; 0 (NULL) for none
};

struct ImageRecord {
  std::string kind;  // BOOT ... TDB
  std::string path;  // bytes as given
  std::uint64_t bytes = 0;
  std::string sha256;  // of the file as read for sending; "" when never read
  bool pinned = false;
  std::string startedUtc;   // "" when not reached
  std::string finishedUtc;  // "" unless it ended
  std::string result;       // "written", "failed" or "not reached"
};

struct BoardOutcome {
  std::string finishedUtc;
  double seconds = 0;
  int code = 0;          // tamsolt-cli's exit code
  std::string word;      // "done", "begin refused", ...
  std::string message;   // the failure box's text, if any
  bool logLost = false;  // written, but lines of its log file were lost
};

// A finished or running board as read back, with its images.
struct StoredBoard {
  std::int64_t id = 0;
  BoardRecord board;
  std::optional<BoardOutcome> outcome;  // none while running
  std::vector<ImageRecord> images;
};
