#include "cli/log_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

LogFile::LogFile(const std::string& path, std::string device)
    : path_(path), device_(std::move(device)) {
  if (!path_.empty()) file_ = std::fopen(path_.c_str(), "ae");
}

LogFile::~LogFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void LogFile::Append(const std::string& line) {
  if (file_ == nullptr) return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char date[16] = "";
  if (localtime_r(&now, &local) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d ", &local);
  const bool written = std::fprintf(file_, "%s%s%s\n", date,
                                    device_.empty() ? "" : (device_ + " ").c_str(),
                                    line.c_str()) >= 0;
  // Buffered lines reach the disk (or fail to) only at the flush.
  if (std::fflush(file_) == 0 && written) return;
  if (!linesLost_) {
    std::fprintf(stderr, "tamsolt-cli: cannot write to the log file %s: %s (lines are lost)\n",
                 path_.c_str(), std::strerror(errno));
  }
  linesLost_ = true;
  std::clearerr(file_);
}

bool CanAppendTo(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "ae");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  std::fclose(file);
  return true;
}
