// A fake line database on 127.0.0.1 that never answers: the way a backend
// stuck in I/O, a frozen server or a paused pooler looks to a station (the
// kernel still acknowledges every byte). kAfterStartup completes the start-up
// (no TLS, no password) and then answers no statement; kSilent accepts and
// never says a word. Cancel requests are held open, never answered.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "linedb/fd_wait.h"

class StallingServer {
 public:
  enum class Mode { kAfterStartup, kSilent };
  // What the server has seen, for a test to wait on.
  struct Seen {
    int accepted = 0;        // connections accepted
    int sessions = 0;        // start-ups answered
    int statements = 0;      // query or parse messages received (and never answered)
    int cancelRequests = 0;
    int closedByClient = 0;  // connections the client closed
  };

  explicit StallingServer(Mode mode);
  ~StallingServer();
  StallingServer(const StallingServer&) = delete;
  StallingServer& operator=(const StallingServer&) = delete;

  int Port() const { return port_; }
  // Calls onChange after every change of what was seen (on the server's thread).
  void OnChange(std::function<void(const Seen&)> onChange);
  // Waits until done(seen) holds; false after a minute (a guard, not a time-out under test).
  bool WaitFor(const std::function<bool(const Seen&)>& done);
  Seen Snapshot();

 private:
  void Serve();

  const Mode mode_;
  int listener_ = -1;
  int port_ = 0;
  Flag closing_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Seen seen_;
  std::function<void(const Seen&)> onChange_;
  std::thread thread_;  // last
};
