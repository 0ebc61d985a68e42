// The per-row downloads: each row's checks, key, block count, first command
// and the chain of timers it runs through to the end reply.
#include <cstdlib>
#include <filesystem>

#include "bmp_files.h"
#include "engine/batch.h"
#include "engine/image_staging.h"
#include "engine/single_download.h"
#include "engine/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

using Ids = std::vector<std::uint32_t>;
using Codes = std::vector<std::uint16_t>;

class SingleFlow : public EngineTest {
 protected:
  // Runs one row's download to its end.
  void Download(void (*handler)()) {
    handler();
    host->RunUntilIdle();
  }
  // The codes sent, runs of equal codes collapsed to one.
  static Codes CodeRuns() {
    Codes runs;
    for (std::uint16_t code : SentCodes()) {
      if (runs.empty() || runs.back() != code) runs.push_back(code);
    }
    return runs;
  }
  void ExpectDone() {
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_FALSE(host->AnyTimerArmed());
  }
};

TEST_F(SingleFlow, BootIsScrambledWithKeyAAndStartsWithANormalBegin) {
  const Bytes boot = ImageFile(1000, /*alternate=*/1, 0, 0, 1);
  host->Row(kKindBoot, WriteFile("boot.bin", boot));
  OnDownloadBoot();
  EXPECT_EQ(g_transfer.fileLength, 870u);
  EXPECT_EQ(g_transfer.blockCount, 20);
  EXPECT_EQ(g_transfer.targetId, 3);
  EXPECT_EQ(g_transfer.itemCommand, 66);
  EXPECT_EQ(Bytes(g_transfer.imageHeader, g_transfer.imageHeader + 128), Slice(boot, 0, 128));
  host->RunUntilIdle();
  const std::vector<SentFrame> sent = SentFrames();
  ASSERT_FALSE(sent.empty());
  // The first begin ignores the header's flag; chunk and end follow it.
  EXPECT_EQ(sent[0].code, 0x43);
  EXPECT_EQ(sent[0].payload, (Bytes{0x01, 0x03, 0xFF}));
  EXPECT_EQ(CodeRuns(), (Codes{0x43, 0x48, 0x4A}));
  EXPECT_EQ(host->armed, (Ids{4, 5, 6, 9}));
  EXPECT_EQ(Received("boot"), Scrambled(Slice(boot, 128, 870), XorKeyA));
  EXPECT_EQ(host->ranges.back(), (std::pair<std::uint16_t, std::uint16_t>{0, 20}));
  ExpectDone();
}

TEST_F(SingleFlow, HostBeginUsesTheHeaderFlagAndTargetTwo) {
  const Bytes image = ImageFile(1000, 1, 0, 0, 2);
  host->Row(kKindHost, WriteFile("host.bin", image));
  Download(&OnDownloadHost);
  const std::vector<SentFrame> sent = SentFrames();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].code, 0x49);
  EXPECT_EQ(sent[0].payload, (Bytes{0x01, 0x02, 0xFF}));
  EXPECT_EQ(CodeRuns(), (Codes{0x49, 0x48, 0x4A}));
  EXPECT_EQ(g_transfer.targetId, 2);
  EXPECT_EQ(Received("host"), Scrambled(Slice(image, 128, 870), XorKeyA));
  ExpectDone();
}

TEST_F(SingleFlow, FontAndLangConnectThenSendWholeBlocks) {
  host->Row(kKindFont, WriteFile("font.bin", Pattern(4096, 4)));
  OnDownloadFont();
  EXPECT_EQ(g_transfer.blockCount, 2);
  host->RunUntilIdle();
  EXPECT_EQ(CodeRuns(), (Codes{0x06, 0x12, 0x44}));
  EXPECT_EQ(host->armed, (Ids{1, 2, 3, 9}));
  EXPECT_EQ(Received("font"), Scrambled(Pattern(4096, 4), XorKeyB));

  UseDevice(sim::Faults{});
  host->armed.clear();
  host->Row(kKindFont, WriteFile("font.bin", Pattern(4097, 4)));
  OnDownloadFont();
  EXPECT_EQ(g_transfer.blockCount, 3);
  host->RunUntilIdle();
  // Every block of a font goes out whole, the loop's too.
  for (const SentFrame& f : SentFrames()) {
    if (f.code == 0x12) {
      EXPECT_EQ(f.payload.size(), 2056u) << "block " << f.index;
    }
  }
  EXPECT_EQ(Received("font"), Scrambled(Pattern(4097, 4), XorKeyB));

  UseDevice(sim::Faults{});
  host->armed.clear();
  host->Row(kKindLang, WriteFile("lang.bin", Pattern(5000, 5)));
  Download(&OnDownloadLang);
  EXPECT_EQ(CodeRuns(), (Codes{0x06, 0x22, 0x44}));
  EXPECT_EQ(host->armed, (Ids{1, 2, 3, 9}));
  EXPECT_EQ(Received("lang"), Pattern(5000, 5));
}

TEST_F(SingleFlow, RcdbConnectsPreparesAndCountsShortBlocks) {
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(106, 3)));
  OnDownloadRcdb();
  EXPECT_EQ(g_transfer.blockCount, 2);
  host->RunUntilIdle();
  EXPECT_EQ(SentCodes(), (Codes{0x06, 0x14, 0x11, 0x11, 0x44}));
  EXPECT_EQ(host->armed, (Ids{1, 10, 2, 3, 9}));
  const std::vector<SentFrame> sent = SentFrames();
  EXPECT_TRUE(sent[2].scrambled);  // block 0 as a data block, then short blocks
  EXPECT_EQ(sent[3].payload.size(), 53u);
  EXPECT_EQ(Received("rcdb"), Scrambled(Pattern(106, 3), XorKeyB));
  ExpectDone();

  UseDevice(sim::Faults{});
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(107, 3)));
  OnDownloadRcdb();
  EXPECT_EQ(g_transfer.blockCount, 3);
  host->RunUntilIdle();
  EXPECT_EQ(SentCodes(), (Codes{0x06, 0x14, 0x11, 0x11, 0x11, 0x44}));
  EXPECT_EQ(Received("rcdb"), Scrambled(Pattern(107, 3), XorKeyB));
}

TEST_F(SingleFlow, FvBmpAndPicStartWithTheirFirstBlock) {
  host->Row(kKindFv, WriteFile("fv.bin", Pattern(300, 6)));
  Download(&OnDownloadFv);
  EXPECT_EQ(CodeRuns(), (Codes{0x19, 0x44}));
  EXPECT_EQ(host->armed, (Ids{2, 3, 9}));
  EXPECT_EQ(Slice(Received("fv"), 0, 300), Pattern(300, 6));  // unscrambled

  UseDevice(sim::Faults{});
  host->armed.clear();
  const Picture picture = {{Rgb{255, 0, 0}, Rgb{255, 255, 255}}};
  host->Row(kKindBmp, WriteFile("logo.bmp", MakeBmp(picture, BmpLayout{})));
  Download(&OnDownloadBmp);
  EXPECT_EQ(CodeRuns(), (Codes{0x1A, 0x44}));
  EXPECT_EQ(host->armed, (Ids{2, 3, 9}));
  EXPECT_EQ(Received("bmp"), DevicePicture(picture));

  UseDevice(sim::Faults{});
  host->armed.clear();
  host->Row(kKindPic, WriteFile("pic.bin", Pattern(2049, 8)));
  Download(&OnDownloadPic);
  EXPECT_EQ(SentCodes(), (Codes{0x23, 0x23, 0x44}));
  EXPECT_EQ(Received("pic"), Scrambled(Pattern(2049, 8), XorKeyB));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"M50", "M50", "M50"}));
}

TEST_F(SingleFlow, RestartedBeginRunsThroughTimersSevenAndEight) {
  sim::Faults faults;
  faults.beginStatus = 3;
  UseDevice(faults);
  const Bytes image = ImageFile(600, 0, 0, 0, 2);
  host->Row(kKindHost, WriteFile("host.bin", image));
  Download(&OnDownloadHost);
  EXPECT_EQ(host->armed, (Ids{4, 7, 8, 5, 6, 9}));
  EXPECT_EQ(Received("host"), Scrambled(Slice(image, 128, 470), XorKeyA));
  ExpectDone();
}

TEST_F(SingleFlow, ChecksBeforeTheDeviceIsSearched) {
  OnDownloadFont();
  OnDownloadBmp();
  host->Row(kKindPic, dir + "/missing.bin");
  OnDownloadPic();
  ASSERT_EQ(host->boxes.size(), 3u);
  EXPECT_EQ(host->boxes[0].text, "请选择待烧录文件！");
  EXPECT_EQ(host->boxes[1].text, "请选择待写入图片！");
  EXPECT_EQ(host->boxes[2].text, "指定的文件路径有误！");
  for (const auto& box : host->boxes) {
    EXPECT_EQ(box.title, "提示");
    EXPECT_EQ(box.icon, MessageIcon::Warning);
  }
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  EXPECT_EQ(g_transfer.busy, 0);
}

TEST_F(SingleFlow, AbsentDeviceShowsOnlyTheSearchMessage) {
  sim::Faults faults;
  faults.absent = true;
  UseDevice(faults);
  g_transfer.interfaceClaimed = 1;
  host->Row(kKindLang, WriteFile("lang.bin", Pattern(100, 5)));
  OnDownloadLang();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Device NOT found!"});
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_TRUE(SentFrames().empty());
}

TEST_F(SingleFlow, MissingMemoryForBootOrHostIsToldBeforeTheDeviceSearch) {
  SetStagingAllocator([](std::size_t) { return StagingBuffer(); });
  host->Row(kKindHost, WriteFile("host.bin", ImageFile(500)));
  OnDownloadHost();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"内存分配失败！"});
  EXPECT_EQ(host->boxes[0].title, "提示");
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  EXPECT_EQ(g_transfer.busy, 0);
}

// A failed open stops the download before busy is set: nothing to send on.
TEST_F(SingleFlow, FailedOpenStopsBeforeBusy) {
  sim::Faults faults;
  faults.openFails = true;
  UseDevice(faults);
  g_transfer.batchQueue.push_back(BatchItem{kKindRcdb, "left"});
  host->Row(kKindPic, WriteFile("pic.bin", Pattern(100, 8)));
  OnDownloadPic();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Could not open m_dev\n"});
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0);
  EXPECT_EQ(g_transfer.batchQueue.size(), 1u);
}

// Items a failed batch left in the queue do not follow a single download.
TEST_F(SingleFlow, StartsWithAnEmptyQueue) {
  sim::Faults silentBegin;
  silentBegin.silentFromFrame = 0;
  silentBegin.silentReplies = 1000;
  UseDevice(silentBegin);
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(500)));
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(100, 3)));
  OnBatchDownload();
  host->RunUntilIdle();
  ASSERT_EQ(g_transfer.batchQueue.size(), 2u);
  ASSERT_EQ(g_transfer.busy, 0);

  UseDevice(sim::Faults{});
  host->boxes.clear();
  host->Row(kKindFont, WriteFile("font.bin", Pattern(100, 4)));
  Download(&OnDownloadFont);
  EXPECT_EQ(SentCodes(), (Codes{0x06, 0x12, 0x44}));
  EXPECT_TRUE(g_transfer.batchQueue.empty());
  ExpectDone();
}

TEST_F(SingleFlow, PressWhileBusyChangesNothing) {
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(2000)));
  host->Row(kKindFont, WriteFile("font.bin", Pattern(100, 4)));
  int pressesWhileBusy = 0;
  host->onPump = [&] {
    if (g_transfer.busy == 0) return;
    ++pressesWhileBusy;
    const std::size_t boxes = host->boxes.size();
    const auto index = g_transfer.blockIndex;
    const auto kind = g_transfer.itemKind;
    OnBatchDownload();
    OnDownloadFont();
    OnDownloadBoot();
    EXPECT_EQ(host->boxes.size(), boxes);
    EXPECT_EQ(g_transfer.blockIndex, index);
    EXPECT_EQ(g_transfer.itemKind, kind);
    // The chunk loop stopped its own timer before pumping: no second loop can start.
    EXPECT_FALSE(host->TimerArmed(6));
  };
  Download(&OnDownloadBoot);
  EXPECT_GT(pressesWhileBusy, 10);
  EXPECT_EQ(host->maxNesting, 1);
  EXPECT_EQ(CodeRuns(), (Codes{0x43, 0x42, 0x44}));
  ExpectDone();
}

TEST_F(SingleFlow, PicturesMadeByImageMagickConvertRight) {
  if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
  const Picture picture = {{Rgb{255, 0, 0}, Rgb{255, 255, 255}}};
  struct Variant {
    const char* options;
    const char* format;
  };
  for (const Variant variant : {Variant{"", "BMP3"}, Variant{"-type TrueColor", "BMP3"},
                                Variant{"-type Palette", "BMP3"}, Variant{"-type TrueColor", "BMP"},
                                Variant{"-type Palette", "BMP2"}}) {
    const std::string path = dir + "/im.bmp";
    const std::string command = std::string("/usr/bin/convert -size 1x1 xc:red xc:white +append ") +
                                variant.options + " " + variant.format + ":" + path + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    UseDevice(sim::Faults{});
    host->Row(kKindBmp, path);
    Download(&OnDownloadBmp);
    EXPECT_EQ(Received("bmp"), DevicePicture(picture)) << variant.options << " " << variant.format;
  }
}

}  // namespace
