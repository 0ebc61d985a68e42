// A child tamsolt-cli of a station (--all, --watch): its own process group, so
// a terminal's Ctrl-C reaches only the parent; SIGTERM from the kernel when the
// parent dies, so it never outlives it; its output on close-on-exec pipes,
// read line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ChildOutput {
  int fd = -1;
  std::string pending;  // a line not yet complete
};

struct ChildProcess {
  pid_t pid = -1;  // -1: could not be started
  std::string startError;  // why it could not be started ("fork: Resource temporarily unavailable")
  bool reaped = false;
  ChildOutput out;
  ChildOutput err;
  std::chrono::steady_clock::time_point started;

  bool OutputOpen() const { return out.fd >= 0 || err.fd >= 0; }
};

// The exit code of a child that could not be started (as a shell gives it).
inline constexpr int kChildNotStarted = 127;

// Starts program with args (kThisProgram: this program again, its argv[0]
// the file it was started from). A child that cannot be started (no pipe, no
// fork) has pid -1 and startError, and no output.
ChildProcess StartChild(const std::string& program, const std::vector<std::string>& args);

// This very program, for a station's children: /proc/self/exe runs the file
// this process was started from even after a package upgrade replaced it,
// so a station never mixes two versions.
inline constexpr char kThisProgram[] = "/proc/self/exe";

// Reads what is there and hands each complete line (without its newline) to
// onLine; at the end of the output the rest as a last line (when atEndToo),
// and the pipe is closed. An interrupted read is not the end.
void ReadLines(ChildOutput& output, bool atEndToo,
               const std::function<void(const std::string&)>& onLine);

// Waits for a child whose output has closed; its exit code, 128 + N when
// signal N ended it; kChildNotStarted at once for a child never started
// (waiting on its pid would reap another child).
int ReapChild(ChildProcess& child);

// Signals the child's process group; never a reaped child, whose pid may
// belong to another process by now.
void SignalChild(const ChildProcess& child, int signal);
