// The engine's pause: whatever the method and however loaded the machine, it
// never comes back before the time asked, and it leaves the thread's timer
// slack as it found it. (How late it comes back is a benchmark figure.)
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "engine/precise_pause.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(PrecisePause, NeverShorterThanAskedAndTheSlackIsGivenBack) {
  constexpr unsigned long kOwnSlackNanos = 123'457;
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kOwnSlackNanos, 0, 0, 0), 0);
  for (const PauseMethod method :
       {PauseMethod::kPlain, PauseMethod::kLowSlack, PauseMethod::kLowSlackFinishOnClock}) {
    for (const std::uint64_t micros : {0u, 1u, 40u, 250u, 4000u}) {
      for (int repeat = 0; repeat < 10; ++repeat) {
        const Clock::time_point start = Clock::now();
        PauseAtLeast(micros, method);
        EXPECT_GE(Clock::now() - start, std::chrono::microseconds(micros))
            << "method " << static_cast<int>(method) << ", " << micros << " us";
      }
      EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), static_cast<int>(kOwnSlackNanos));
    }
  }
  prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // the default again
}

// tamsolt-cli's pause, which a stop signal's descriptor cuts short: the same
// full time while the descriptor stays quiet, and an end as soon as it is not.
TEST(PrecisePause, UnlessReadableLastsItsTimeOrEndsWhenTheDescriptorIsReadable) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  constexpr unsigned long kOwnSlackNanos = 98'765;
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kOwnSlackNanos, 0, 0, 0), 0);
  for (const PauseMethod method :
       {PauseMethod::kPlain, PauseMethod::kLowSlack, PauseMethod::kLowSlackFinishOnClock}) {
    for (const std::uint64_t micros : {0u, 40u, 4000u}) {
      const Clock::time_point start = Clock::now();
      EXPECT_FALSE(PauseUnlessReadable(micros, ends[0], method));
      EXPECT_GE(Clock::now() - start, std::chrono::microseconds(micros)) << static_cast<int>(method);
    }
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), static_cast<int>(kOwnSlackNanos));
  }
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(PauseUnlessReadable(10'000'000, ends[0]));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);
  close(ends[0]);
  close(ends[1]);
}

}  // namespace
