// The benchmark host on a virtual clock: the floor it reads off a run is the
// engine's own pacing, its gaps are where the loop could not handle events,
// and the allocation counter counts only what it is asked to.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <vector>

#include "bench/bench_host.h"
#include "bench/counting_allocator.h"
#include "engine/batch.h"
#include "engine/state_machine.h"
#include "record/transfer_context.h"
#include "scratch_folder.h"
#include "sim/inprocess_usb.h"

namespace {

constexpr sim::Micros kMs = 1000;

class BenchHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    static const TransferContext kBlank{};
    g_transfer = kBlank;
    sim::InstallInProcessDevice(&model_, &clock_);
  }
  void TearDown() override { sim::InstallInProcessDevice(nullptr, nullptr); }

  // Only the row of kind, holding size bytes.
  std::vector<std::string> Row(std::uint8_t kind, std::size_t size) {
    std::vector<std::string> paths(kKindCount);
    paths[kind] = folder_.Path() + "/" + KindName(kind);
    std::ofstream(paths[kind], std::ios::binary) << std::string(size, '\x5A');
    return paths;
  }

  ScratchFolder folder_;
  sim::VirtualClock clock_;
  sim::DeviceModel model_{sim::Faults{}, ""};
};

TEST_F(BenchHostTest, FloorOfAShortImageIsTheSumOfItsTimerPeriodsAndSleeps) {
  bench::BenchHost host(clock_, Row(kKindRcdb, 106));
  OnBatchDownload();
  host.RunUntilIdle();
  // Begin: a period and the 4 ms poll pause; first block: the same; the loop
  // tick: a period, block 1 with 4 ms and the last block's 150 ms; the end
  // reply: a period; then the 2 s close wait.
  const sim::Micros expected = (10 + 4) + (10 + 4) + (10 + 4 + 150) + 10 + 2000;
  EXPECT_EQ(clock_.Now(), expected * kMs);
  ASSERT_EQ(host.items.size(), 1u);
  EXPECT_EQ(host.items[0].blocks, 2);
  EXPECT_EQ(host.boxes.size(), 1u);
  EXPECT_TRUE(host.status.empty());
}

TEST_F(BenchHostTest, GapsSeparateTheDevicesFixedWaitsFromThePacing) {
  bench::BenchHost host(clock_, Row(kKindRcdb, 106));
  OnBatchDownload();
  host.RunUntilIdle();
  // The end reply's tick sleeps the 2 s close wait without handling events.
  EXPECT_EQ(host.longestGap.length, 2000 * kMs);
  EXPECT_EQ(host.longestGap.fixedWaits, 2000 * kMs);
  EXPECT_EQ(host.longestGap.timer, kTimerEnd);
  // Less its 150 ms wait, the loop tick is no longer than a 4 ms poll pause.
  EXPECT_EQ(host.longestNetGap.length - host.longestNetGap.fixedWaits, 4 * kMs);
}

bool g_midBlocks = false;

TEST(CountingAllocator, CountsOnlyWhileOnAndNotPausedAndTellsMidBlockOnes) {
  bench::ResetAllocationCount();
  bench::SetBlockProbe([] { return g_midBlocks; });
  auto a = std::make_unique<int>(1);  // off: not counted
  bench::CountAllocations(true);
  auto b = std::make_unique<int>(2);
  {
    const bench::AllocationPause pause;
    auto c = std::make_unique<int>(3);
  }
  g_midBlocks = true;
  auto d = std::make_unique<int>(4);
  bench::CountAllocations(false);
  g_midBlocks = false;
  bench::SetBlockProbe(nullptr);
  EXPECT_EQ(bench::CountedAllocations(), 2u);
  EXPECT_EQ(bench::CountedMidBlockAllocations(), 1u);
  const auto sites = bench::AllocationSites();
  ASSERT_FALSE(sites.empty());
  EXPECT_FALSE(sites.front().frames.empty());
}

TEST(RealTimeClock, WaitsUntilTheTimeAskedFor) {
  sim::VirtualClock clock = sim::VirtualClock::FollowingRealTime();
  const sim::Micros start = clock.Now();
  clock.AdvanceTo(start + 2 * kMs);
  EXPECT_GE(clock.Now(), start + 2 * kMs);
  const sim::Micros later = clock.Now();
  clock.Advance(1 * kMs);
  EXPECT_GE(clock.Now(), later + 1 * kMs);
}

}  // namespace
