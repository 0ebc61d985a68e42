// The reference batch passes the batch's own checks and its floor splits into
// items without losing time; a program's lines split into items in order.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/inprocess_run.h"
#include "bench/reference_batch.h"
#include "bench/umockdev_runs.h"
#include "engine/image_files.h"
#include "scratch_folder.h"
#include "settings/settings.h"

namespace {

class ReferenceBatchTest : public ::testing::TestWithParam<unsigned> {
 protected:
  // The shipped message table, as the benchmark uses it: items end at their completion lines.
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    g_iniPath = folder_.Path() + "/setting.ini";
    std::filesystem::copy_file(TAMSOLT_SOURCE_DIR "/res/setting.ini", g_iniPath);
  }
  ScratchFolder folder_;
};

TEST_P(ReferenceBatchTest, EveryFilePassesTheBatchChecks) {
  const bench::ReferenceBatch batch = bench::WriteReferenceBatch(folder_.Path(), GetParam());
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    EXPECT_TRUE(CheckImageFile(kind, batch.paths[kind], DownloadMode::kBatch).ok()) << KindName(kind);
  }
}

TEST_P(ReferenceBatchTest, FloorOfTheItemsAddsUpToTheWholeBatch) {
  const bench::InProcessFigures floor = bench::FloorOnly(bench::WriteReferenceBatch(folder_.Path(), GetParam()));
  ASSERT_EQ(floor.failure, "");
  ASSERT_EQ(floor.items.size(), static_cast<std::size_t>(kKindCount));
  sim::Micros time = 0;
  int frames = 0;
  for (const auto& item : floor.items) {
    EXPECT_GT(item.floor, 0) << KindName(item.kind);
    time += item.floor;
    frames += item.frames;
  }
  EXPECT_EQ(time, floor.floor);
  EXPECT_EQ(frames, floor.frames);
}

// Each item's time is its own: the divisor shrinks neither the picture nor
// the test data, so their items take as long at any divisor, whatever the
// items around them.
TEST_P(ReferenceBatchTest, ThePictureAndTheTestDataTakeAsLongAtAnyDivisor) {
  ASSERT_TRUE(std::filesystem::create_directory(folder_.Path() + "/1"));
  ASSERT_TRUE(std::filesystem::create_directory(folder_.Path() + "/n"));
  const bench::InProcessFigures whole = bench::FloorOnly(bench::WriteReferenceBatch(folder_.Path() + "/1", 1));
  const bench::InProcessFigures divided =
      bench::FloorOnly(bench::WriteReferenceBatch(folder_.Path() + "/n", GetParam()));
  ASSERT_EQ(whole.items.size(), static_cast<std::size_t>(kKindCount));
  ASSERT_EQ(divided.items.size(), static_cast<std::size_t>(kKindCount));
  for (const std::uint8_t kind : {kKindBmp, kKindTdb}) {
    EXPECT_EQ(whole.items[kind].floor, divided.items[kind].floor) << KindName(kind);
  }
}

INSTANTIATE_TEST_SUITE_P(Divisors, ReferenceBatchTest, ::testing::Values(1u, 64u));

TEST(CompletionLines, SplitAProgramsOutputIntoItemsInOrder) {
  const std::vector<bench::TimedLine> lines{
      {100, "10:00:00 A done"}, {150, "progress"}, {300, "10:00:01 same"}, {700, "10:00:02 same"}};
  struct Case {
    std::vector<std::string> completions;
    std::vector<sim::Micros> times;
  };
  const std::vector<Case> cases{
      {{"A done", "same", "last"}, {100, 200, 700}},
      {{"same", "same", "last"}, {300, 400, 300}},  // the same text twice: two lines, in order
      {{"A done", "missing", "last"}, {}},
      {{"only"}, {1000}},
  };
  for (const Case& c : cases) EXPECT_EQ(bench::SplitAtCompletionLines(c.completions, lines, 1000), c.times);
}

}  // namespace
