// One finished board with its images, as the line database stores it: plain
// values that a station's ledger is read into (ledger/unsent_boards.h) and
// InsertLineBoard sends. Absent values are NULL in the line database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LineImage {
  std::string kind;  // BOOT ... TDB
  std::string path;  // bytes as given (bytea)
  std::int64_t bytes = 0;
  std::string sha256;
  bool pinned = false;
  std::optional<std::string> startedUtc;  // ISO 8601; none when not reached
  std::optional<std::string> finishedUtc;
  std::string result;  // "written", "failed" or "not reached"
};

struct LineBoard {
  std::string uuid;
  std::string startedUtc;  // ISO 8601, as the ledger writes it
  std::string finishedUtc;
  std::optional<double> seconds;
  std::string station;
  std::string slot;
  std::string device;
  std::string program;
  std::string version;
  std::string operatorName;
  std::string settingsPath;  // bytes as given (bytea)
  std::string settingsSha256;
  std::optional<std::int64_t> outcomeCode;
  std::optional<std::string> outcome;
  std::string message;
  bool logLost = false;  // written, but lines of its log file were lost (version 2)
  std::string recipe;     // the recipe it was written from, "" for none (version 3)
  std::optional<std::int64_t> recipeVersion;
  std::vector<LineImage> images;
};
