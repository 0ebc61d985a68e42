// The checks made at the batch press, and the ways an item can fail to start
// once the batch runs: each ends the transfer with busy clear.
#include <filesystem>

#include "engine/batch.h"
#include "engine/image_staging.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "link/usb_link.h"
#include "sim/inprocess_usb.h"

namespace {

class BatchPress : public EngineTest {
 protected:
  void ExpectNothingStarted() {
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0);
    EXPECT_FALSE(host->AnyTimerArmed());
  }
};

TEST_F(BatchPress, NoRowCheckedShowsS0030WithoutSearching) {
  host->paths[kKindFont] = WriteFile("font.bin", Pattern(10, 1));  // a path alone does not count
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M30"});
  EXPECT_EQ(host->boxes[0].title, "M11");
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  ExpectNothingStarted();
}

TEST_F(BatchPress, EachRowsPathAndFileMessages) {
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    host->checked = {};
    host->boxes.clear();
    host->Row(kind, "");
    OnBatchDownload();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Text(12 + 2 * kind)}) << int{kind};
    host->boxes.clear();
    host->Row(kind, dir + "/nothing-here");
    OnBatchDownload();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Text(13 + 2 * kind)}) << int{kind};
  }
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  ExpectNothingStarted();
}

TEST_F(BatchPress, ImageTagMustMatch) {
  Put(kKindBoot, ImageFile(500, 0, /*tag=*/1));
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M53"});
  host->boxes.clear();
  Put(kKindBoot, ImageFile(500));
  Put(kKindHost, ImageFile(500, 0, /*tag=*/9));
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M54"});
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  ExpectNothingStarted();
}

TEST_F(BatchPress, NoHandleShowsS0010) {
  UseDevice({.claimFails = true});
  Put(kKindLang, Pattern(100, 5));
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "USB device interface is occupied by other software, please check it!\n",
                            "M10"}));
  ExpectNothingStarted();
}

TEST_F(BatchPress, AnOpenLinkIsReused) {
  Put(kKindLang, Pattern(100, 5));
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  Press(&OnBatchDownload);
  EXPECT_EQ(sim::RecordedCalls().open, 1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

// A failed batch leaves its unfinished items queued: the next batch press
// starts over from the begin, a single download does without them.
TEST_F(BatchPress, FailedItemLeavesTheRestQueuedUntilTheNextPress) {
  for (void (*next)() : {&OnBatchDownload, &OnDownloadFont}) {
    UseDevice({.silentFromFrame = 3, .silentReplies = 100000});  // after begin, chunks 0 and 1
    host->checked = {};
    Put(kKindBoot, ImageFile(1000));
    RunRow(kKindRcdb, Pattern(100, 3), &OnBatchDownload);
    ASSERT_EQ(g_transfer.batchQueue.size(), 2u);
    EXPECT_EQ(g_transfer.busy, 0);

    UseDevice(sim::Faults{});
    host->boxes.clear();
    RunRow(kKindFont, Pattern(100, 4), next);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
    EXPECT_TRUE(g_transfer.batchQueue.empty());
    if (next == &OnDownloadFont) {
      EXPECT_EQ(SentCodes(), (std::vector<std::uint16_t>{0x06, 0x12, 0x44}));
      continue;
    }
    EXPECT_EQ(SentCodes().front(), 0x43);
    EXPECT_EQ(Received("boot"), Scrambled(Slice(ImageFile(1000), 128, 870), XorKeyB));
    EXPECT_EQ(Slice(Received("rcdb"), 0, 100), Scrambled(Pattern(100, 3), XorKeyB));
  }
}

TEST_F(BatchPress, MissingStagingBufferEndsTheBatch) {
  SetStagingAllocator([](std::size_t) { return StagingBuffer(); });
  Put(kKindBoot, ImageFile(500));
  OnBatchDownload();
  ASSERT_EQ(BoxTexts(), (std::vector<std::string>{"malloc error！", "M52"}));
  EXPECT_EQ(host->boxes[0].title, "Warning");
  EXPECT_EQ(host->status, "M52");
  ExpectNothingStarted();

  host->boxes.clear();
  host->Row(kKindBoot, "", false);
  Put(kKindHost, ImageFile(500));
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"malloc error!", "M52"}));
  EXPECT_EQ(g_transfer.busy, 0);
}

TEST_F(BatchPress, FileGoneAtItsStartEndsTheBatch) {
  Put(kKindBoot, ImageFile(1000));
  const std::string rcdb = WriteFile("db.rdb", Pattern(100, 3));
  host->Row(kKindRcdb, rcdb);
  host->onPump = [&] { std::filesystem::remove(rcdb); };  // while BOOT is being sent
  Press(&OnBatchDownload);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"RCDB：文件无法打开或读取。", "M52"}));
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M32", "M41"}));
  // BOOT's loop counted a poll before it saw its last chunk sent.
  EXPECT_EQ(g_transfer.pollCount + g_transfer.retryCount, 0);
}

// Counts left by a transfer that ended another way are zeroed at the press:
// otherwise the begin's first poll would reach the limit and, with the
// resends used up, give up on a device that answered at once.
TEST_F(BatchPress, ThePressStartsTheBeginWithTheCountersAtZero) {
  Put(kKindBoot, ImageFile(500));
  g_transfer.pollCount = 9;
  g_transfer.retryCount = 3;
  Press(&OnBatchDownload);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(BatchPress, TestDataHandOverWithoutALinkEndsTheBatch) {
  Put(kKindTdb, Pattern(256 + 100, 9));
  host->onPump = [&] {
    if (g_transfer.blockIndex == g_transfer.blockCount) CloseDevice();
  };
  Press(&OnBatchDownload);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M40", "M49"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M52"});
  EXPECT_EQ(g_transfer.busy, 0);
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(codes.back(), 0x63);  // no end command without a link
  EXPECT_FALSE(host->AnyTimerArmed());
}

}  // namespace
