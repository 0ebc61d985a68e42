// The per-row downloads: each row's checks, key, block count, first command
// and the chain of timers it runs through to the end reply.
#include <cstdlib>
#include <filesystem>

#include "bmp_files.h"
#include "engine/batch.h"
#include "engine/image_staging.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
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

// One row's download on a healthy device: what it reads, the codes it sends,
// the timers it runs through and what the device keeps.
struct Chain {
  const char* name;
  std::uint8_t kind;
  void (*handler)();
  Bytes file;
  int blockCount;
  std::size_t blockPayload;  // every block after the first
  Codes runs;
  Ids armed;  // empty: not checked
  Bytes begin;  // the begin frame's payload; empty: no begin
  Bytes received;
};

TEST_F(SingleFlow, EachRowRunsItsChainToTheEndReply) {
  const Bytes boot = ImageFile(1000, /*alternate=*/1, 0, 0, 1);
  const Bytes image = ImageFile(1000, 1, 0, 0, 2);
  const Picture picture = {{Rgb{255, 0, 0}, Rgb{255, 255, 255}}};
  const Chain chains[] = {
      {"font", kKindFont, &OnDownloadFont, Pattern(4096, 4), 2, 2056, {0x06, 0x12, 0x44},
       {1, 2, 3, 9}, {}, Scrambled(Pattern(4096, 4), XorKeyB)},
      {"font", kKindFont, &OnDownloadFont, Pattern(4097, 4), 3, 2056, {0x06, 0x12, 0x44}, {}, {},
       Scrambled(Pattern(4097, 4), XorKeyB)},
      {"lang", kKindLang, &OnDownloadLang, Pattern(5000, 5), 3, 2056, {0x06, 0x22, 0x44},
       {1, 2, 3, 9}, {}, Pattern(5000, 5)},
      // Block 0 as a whole data block, then 53-byte short blocks.
      {"rcdb", kKindRcdb, &OnDownloadRcdb, Pattern(106, 3), 2, 53, {0x06, 0x14, 0x11, 0x44},
       {1, 10, 2, 3, 9}, {}, Scrambled(Pattern(106, 3), XorKeyB)},
      {"rcdb", kKindRcdb, &OnDownloadRcdb, Pattern(107, 3), 3, 53, {0x06, 0x14, 0x11, 0x44}, {},
       {}, Scrambled(Pattern(107, 3), XorKeyB)},
      {"fv", kKindFv, &OnDownloadFv, Pattern(318, 6), 6, 53, {0x19, 0x44}, {2, 3, 9}, {},
       Pattern(318, 6)},  // unscrambled
      {"bmp", kKindBmp, &OnDownloadBmp, MakeBmp(picture, BmpLayout{}), 1, 0, {0x1A, 0x44},
       {2, 3, 9}, {}, DevicePicture(picture)},
      {"pic", kKindPic, &OnDownloadPic, Pattern(2049, 8), 2, 2056, {0x23, 0x44}, {2, 3, 9}, {},
       Scrambled(Pattern(2049, 8), XorKeyB)},
      // Last: the alternate codes of an image header stay for later rows.
      // The first begin ignores the header's flag; chunk and end follow it.
      {"boot", kKindBoot, &OnDownloadBoot, boot, 20, 53, {0x43, 0x48, 0x4A}, {4, 5, 6, 9},
       {0x01, 0x03, 0xFF}, Scrambled(Slice(boot, 128, 870), XorKeyA)},
      {"host", kKindHost, &OnDownloadHost, image, 20, 53, {0x49, 0x48, 0x4A}, {4, 5, 6, 9},
       {0x01, 0x02, 0xFF}, Scrambled(Slice(image, 128, 870), XorKeyA)},
  };
  for (const Chain& chain : chains) {
    SCOPED_TRACE(std::string(chain.name) + " " + std::to_string(chain.file.size()));
    UseDevice(sim::Faults{});
    host->armed.clear();
    host->boxes.clear();
    host->Row(chain.kind, WriteFile("image", chain.file));
    chain.handler();
    EXPECT_EQ(g_transfer.blockCount, chain.blockCount);
    host->RunUntilIdle();
    const std::vector<SentFrame> sent = SentFrames();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(CodeRuns(), chain.runs);
    // One frame per block, after the first each of the loop's own size; whole
    // blocks go out frame-scrambled, short blocks and chunks plain.
    const std::uint16_t dataCode = chain.runs[chain.runs.size() - 2];
    int dataFrames = 0;
    for (const SentFrame& f : sent) {
      if (f.code != dataCode) continue;
      ++dataFrames;
      if (f.index > 0) {
        EXPECT_EQ(f.payload.size(), chain.blockPayload) << "block " << f.index;
      }
      EXPECT_EQ(f.scrambled, f.payload.size() == 2056u) << "block " << f.index;
    }
    EXPECT_EQ(dataFrames, chain.blockCount);
    if (!chain.armed.empty()) {
      EXPECT_EQ(host->armed, chain.armed);
    }
    if (!chain.begin.empty()) {
      EXPECT_EQ(sent[0].payload, chain.begin);
    }
    EXPECT_EQ(Received(chain.name), chain.received);
    EXPECT_EQ(host->ranges.back().second, chain.blockCount);
    ExpectDone();
  }
}

TEST_F(SingleFlow, RestartedBeginRunsThroughTimersSevenAndEight) {
  UseDevice({.beginStatus = 3});
  const Bytes image = ImageFile(600, 0, 0, 0, 2);
  RunRow(kKindHost, image, &OnDownloadHost);
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
  for (void (*press)() : {&OnDownloadLang, &OnBatchDownload}) {
    UseDevice({.absent = true});
    g_transfer.interfaceClaimed = 1;
    host->boxes.clear();
    Put(kKindLang, Pattern(100, 5));
    press();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Device NOT found!"});
    EXPECT_EQ(g_transfer.interfaceClaimed, 0);
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_FALSE(host->AnyTimerArmed());
    EXPECT_TRUE(SentFrames().empty());
  }
}

TEST_F(SingleFlow, MissingMemoryForBootOrHostIsToldBeforeTheDeviceSearch) {
  SetStagingAllocator([](std::size_t) { return StagingBuffer(); });
  Put(kKindHost, ImageFile(500));
  OnDownloadHost();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"内存分配失败！"});
  EXPECT_EQ(host->boxes[0].title, "提示");
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  EXPECT_EQ(g_transfer.busy, 0);
}

// A failed open stops the download before busy is set: nothing to send on.
TEST_F(SingleFlow, FailedOpenStopsBeforeBusy) {
  UseDevice({.openFails = true});
  g_transfer.batchQueue.push_back(BatchItem{kKindRcdb, "left"});
  Put(kKindPic, Pattern(100, 8));
  OnDownloadPic();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Could not open m_dev\n"});
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0);
  EXPECT_EQ(g_transfer.batchQueue.size(), 1u);
}

TEST_F(SingleFlow, PressWhileBusyChangesNothing) {
  Put(kKindBoot, ImageFile(2000));
  Put(kKindFont, Pattern(100, 4));
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
  Press(&OnDownloadBoot);
  EXPECT_GT(pressesWhileBusy, 10);
  EXPECT_EQ(host->maxNesting, 1);
  EXPECT_EQ(CodeRuns(), (Codes{0x43, 0x42, 0x44}));
  ExpectDone();
}

TEST_F(SingleFlow, PicturesMadeByImageMagickConvertRight) {
  ASSERT_TRUE(std::filesystem::exists("/usr/bin/convert"))
      << "ImageMagick's convert is missing: scripts/setup.sh installs it";
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
    Press(&OnDownloadBmp);
    EXPECT_EQ(Received("bmp"), DevicePicture(picture)) << variant.options << " " << variant.format;
  }
}

}  // namespace
