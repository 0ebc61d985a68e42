// The runner's control channel (--control=FIFO): a test tells the bus when a
// board is plugged in or pulled out, by lines written into a named pipe,
// instead of by times fixed in advance.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct ControlCommand {
  enum class Kind { Plug, Unplug };
  Kind kind = Kind::Plug;
  std::string port;  // as the kernel names it, "1-1.3"
};

// "plug PORT" or "unplug PORT" (blanks around the words are allowed). False,
// with the reason in error, for anything else.
bool ParseControlCommand(const std::string& line, ControlCommand& command, std::string& error);

// The named pipe, opened for reading and writing: a writer may open and close
// it as often as it likes without the runner ever seeing an end of file, and
// the open does not wait for a writer.
class ControlChannel {
 public:
  // False (with the reason in error) when path cannot be opened.
  bool Open(const std::string& path, std::string& error);
  ~ControlChannel();
  ControlChannel() = default;
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  int Descriptor() const { return fd_; }
  // The complete lines that have come in so far (without their newline); a
  // part line waits for its end.
  std::vector<std::string> TakeLines();

 private:
  int fd_ = -1;
  std::string pending_;
};

}  // namespace sim
