// Waits on descriptors that always end: at a deadline, or at once when a stop
// descriptor (a pending stop signal, a host closing) becomes readable. The
// line database is never waited on without both.
#pragma once

#include <chrono>

using SteadyTime = std::chrono::steady_clock::time_point;

enum class DescriptorWait { kReady, kStopped, kTimedOut };

// Until fd has one of events (poll's POLLIN/POLLOUT), stopFd is readable
// (never read: whoever owns it takes it) or deadline passes. A stop wins
// over readiness. stopFd -1: none.
DescriptorWait WaitForDescriptor(int fd, short events, int stopFd, SteadyTime deadline);

// An eventfd that one thread sets and another polls: readable for good once set.
class Flag {
 public:
  Flag();
  ~Flag();
  Flag(const Flag&) = delete;
  Flag& operator=(const Flag&) = delete;

  void Set();
  bool IsSet() const;
  int Fd() const { return fd_; }

 private:
  int fd_;
};
