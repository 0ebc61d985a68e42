#include "sim/umockdev_control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "sim/umockdev_usbfs.h"

namespace sim {

bool ParseControlCommand(const std::string& line, ControlCommand& command, std::string& error) {
  std::istringstream words(line);
  std::string verb, port, extra;
  words >> verb >> port >> extra;
  if ((verb != "plug" && verb != "unplug") || !ValidPortPath(port) || !extra.empty()) {
    error = "\"" + line + "\" is no command: plug PORT or unplug PORT, as in plug 1-1.3";
    return false;
  }
  command.kind = verb == "plug" ? ControlCommand::Kind::Plug : ControlCommand::Kind::Unplug;
  command.port = port;
  return true;
}

bool ControlChannel::Open(const std::string& path, std::string& error) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) {
    error = "--control: " + path + " is no named pipe (make it with mkfifo)";
    return false;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = "--control: cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

ControlChannel::~ControlChannel() {
  if (fd_ >= 0) close(fd_);
}

std::vector<std::string> ControlChannel::TakeLines() {
  char buffer[512];
  ssize_t n = 0;
  while ((n = read(fd_, buffer, sizeof buffer)) > 0)
    pending_.append(buffer, static_cast<std::size_t>(n));
  std::vector<std::string> lines;
  std::size_t end = 0;
  while ((end = pending_.find('\n')) != std::string::npos) {
    lines.push_back(pending_.substr(0, end));
    pending_.erase(0, end + 1);
  }
  return lines;
}

}  // namespace sim
