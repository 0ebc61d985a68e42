// Where a run under umockdev spent its time over floor + stack: the program's
// "link-timing" lines are read back as written, and the three parts of the
// split add up to the excess, each from its own figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/link_timing.h"
#include "bench/time_split.h"

namespace {

std::vector<std::string> Printed(const bench::LinkTiming& timing) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  bench::PrintLinkTiming(out, timing);
  std::fclose(out);
  std::vector<std::string> lines{"a line of the program's own", "link-timing unknown-key 5"};
  for (std::string rest = text; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest.erase(0, end == std::string::npos ? rest.size() : end + 1);
  }
  std::free(text);
  lines.push_back("link-timing reads 7");  // cut short: not a call's two figures
  return lines;
}

TEST(LinkTiming, LinesAreReadBackAsWrittenAndTheSplitAddsUpToTheExcess) {
  bench::LinkTiming timing;
  timing.writes = {100, 50'000};
  timing.reads = {98, 60'000};
  timing.emptyReads = {2, 4'000};
  timing.pauses = {100, 420'000};
  timing.pausesAskedMicros = 400'000;
  timing.firstFrameMicros = 25'000;
  timing.exitMicros = 990'000;

  bench::LinkTiming read;
  ASSERT_TRUE(bench::ParseLinkTiming(Printed(timing), read));
  EXPECT_EQ(read.writes.calls, 100u);
  EXPECT_EQ(read.reads.micros, 60'000u);
  EXPECT_EQ(read.emptyReads.calls, 2u);
  EXPECT_EQ(read.pauses.micros, 420'000u);
  EXPECT_EQ(read.pausesAskedMicros, 400'000u);
  EXPECT_EQ(read.firstFrameMicros, 25'000u);
  EXPECT_EQ(read.exitMicros, 990'000u);
  EXPECT_FALSE(bench::ParseLinkTiming({"round-trip-us 800"}, read));

  // 1 s of wall, 30 ms of it before the first frame; floor 0.5 s; the stack
  // cost is the 114 ms in USB calls.
  const bench::TimeSplit split = bench::SplitTime(read, 1'000'000, 30'000, 500'000);
  EXPECT_EQ(split.usbCalls, 114'000);
  EXPECT_EQ(split.excess, 386'000);
  EXPECT_EQ(split.beforeFirstFrame, 30'000);
  EXPECT_EQ(split.pausesLate, 20'000);
  // 1 s − 30 ms − 420 ms − 114 ms, less the floor's 100 ms of timer periods.
  EXPECT_EQ(split.restBeyondTimers, 336'000);
}

}  // namespace
