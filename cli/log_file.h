// --log-file: every log line and message box appended with the date (and the
// device when one is named). A write that fails is reported on standard error
// once, and the run remembers that lines were lost, so it cannot end as if the
// record were whole.
#pragma once

#include <cstdio>
#include <string>

class LogFile {
 public:
  // path empty: no log file. device: named in each line (empty: none).
  LogFile(const std::string& path, std::string device);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // False when the file was named but cannot be opened for appending.
  bool Open() const { return path_.empty() || file_ != nullptr; }
  void Append(const std::string& line);
  bool LinesLost() const { return linesLost_; }

 private:
  std::string path_;
  std::string device_;
  std::FILE* file_ = nullptr;
  bool linesLost_ = false;
};

// Whether path can be opened for appending (creating it); the reason in error.
bool CanAppendTo(const std::string& path, std::string& error);
