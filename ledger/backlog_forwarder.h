// ForwardBacklog off the transfer's thread, for a host that writes board
// after board (the window, tamsolt-cli's --all and --watch): Request() after
// each finished board never waits; the forward runs on the forwarder's own
// thread, one at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "linedb/fd_wait.h"
#include "ledger/forward_backlog.h"

class BacklogForwarder {
 public:
  // Called on the forwarder's thread after every forward (a window must pass
  // it on to its own thread). errorIsNew: result.error is set and is not the
  // one reported last, so an outage is told once, not after every board; it
  // is told again if it comes back after a forward went through.
  // result.notice is given once in the forwarder's life, empty after.
  using Report = std::function<void(const ForwardResult& result, bool errorIsNew)>;

  // stopFd: readable (a stop signal pending) ends the wait of the destructor
  // at once; it is only polled, never read. -1: none.
  BacklogForwarder(std::string ledgerPath, std::string connectionString, Report report,
                   int stopFd = -1, std::chrono::milliseconds holdTime = kLineDbHoldTime);
  // Gives the forward under way, and one still requested unless the last one
  // failed (the database is likely still away: those boards go with the next
  // run's first forward), holdTime in all, or until stopFd is readable; then
  // cuts what is still under way (its boards stay queued).
  ~BacklogForwarder();
  BacklogForwarder(const BacklogForwarder&) = delete;
  BacklogForwarder& operator=(const BacklogForwarder&) = delete;

  // A forward now, or, while one runs, one more after it (requests made
  // meanwhile are one).
  void Request();

 private:
  void Run();

  const std::string ledgerPath_;
  const std::string connectionString_;
  const Report report_;
  const int stopFd_;
  const std::chrono::milliseconds holdTime_;
  Flag cut_;       // set by the destructor: the forward under way ends at once
  Flag finished_;  // set by the thread as it returns
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool stopping_ = false;
  std::string lastError_;  // touched by the forwarder's thread only
  bool noticeTold_ = false;  // likewise
  std::thread thread_;     // last: starts once everything above is ready
};
