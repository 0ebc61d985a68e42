// Every wait on the line database ends: at the deadline, or at once at a
// stop, which wins over a socket that is ready at the same moment (a stop
// signal is never left waiting behind a server that keeps answering).
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "linedb/fd_wait.h"

TEST(DescriptorWait, StopWinsOverAReadySocketAndIsNeverTaken) {
  struct Case {
    const char* name;
    bool stop;
    bool ready;
    DescriptorWait end;
  } cases[] = {
      {"ready", false, true, DescriptorWait::kReady},
      {"stop and ready at once", true, true, DescriptorWait::kStopped},
      {"stop", true, false, DescriptorWait::kStopped},
      {"neither by the deadline", false, false, DescriptorWait::kTimedOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int socket[2];
    ASSERT_EQ(pipe(socket), 0);
    if (c.ready) {
      ASSERT_EQ(write(socket[1], "x", 1), 1);
    }
    Flag stop;
    if (c.stop) stop.Set();
    // A deadline already passed: one look, so nothing here waits on the clock.
    EXPECT_EQ(WaitForDescriptor(socket[0], POLLIN, stop.Fd(), std::chrono::steady_clock::now()), c.end);
    EXPECT_EQ(stop.IsSet(), c.stop);  // polled, never read: the stop's owner takes it
    close(socket[0]);
    close(socket[1]);
  }
}
