// Files that would not fit their buffers, or would send nothing, are refused
// before anything is read into the record: a message naming the row and the
// reason, nothing sent, busy clear.
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "bmp_files.h"
#include "engine/batch.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

enum Presses { kBatch = 1, kSingle = 2, kBoth = 3 };

class Refusals : public EngineTest {
 protected:
  void ExpectRefused(const std::string& text) {
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{text});
    EXPECT_EQ(host->boxes[0].title, "M11");
    EXPECT_EQ(host->boxes[0].icon, MessageIcon::Warning);
    EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
    EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0);
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_FALSE(host->AnyTimerArmed());
    EXPECT_EQ(g_transfer.fileLength, 0u);
    EXPECT_TRUE(g_transfer.batchQueue.empty());
  }
  // A file of its own for each case.
  std::string File(const Bytes& bytes) { return WriteFile("f" + std::to_string(files_++), bytes); }
  int files_ = 0;
};

void (*const kSingleHandlers[8])() = {&OnDownloadBoot, &OnDownloadHost, &OnDownloadRcdb,
                                      &OnDownloadFont, &OnDownloadLang, &OnDownloadFv,
                                      &OnDownloadBmp,  &OnDownloadPic};

TEST_F(Refusals, BatchAndSingleDownloadRefuseEachBeforeBusy) {
  std::filesystem::create_directory(dir + "/folder");
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const Bytes wide = MakeBmp(Picture(1, std::vector<Rgb>(161, Rgb{1, 2, 3})), BmpLayout{});
  const std::tuple<std::uint8_t, std::string, const char*, Presses> cases[] = {
      {kKindBoot, File(ImageFile(129)), "BOOT：文件过短，至少 130 字节（128 字节文件头和 2 字节结尾）。", kBoth},
      {kKindBoot, File(ImageFile(130)), "BOOT：文件中没有可下载的数据。", kBoth},
      {kKindBoot, File(ImageFile(1048577)), "BOOT：文件过大，最大 1048576 字节。", kBoth},
      {kKindHost, File(ImageFile(500, 0, 0, 1)), "HOST：文件头第 108 字节不为 0，无法下载。", kBoth},
      // A single HOST download may use the larger buffer.
      {kKindHost, File(ImageFile(1048577)), "HOST：文件过大，最大 1048576 字节。", kBatch},
      {kKindHost, File(ImageFile(2097153)), "HOST：文件过大，最大 2097152 字节。", kSingle},
      {kKindRcdb, File({}), "RCDB：文件中没有可下载的数据。", kBoth},
      // Its last 53-byte short block would end past the 2 MiB buffer.
      {kKindRcdb, File(Bytes(2097105, 1)), "RCDB：文件过大，最大 2097104 字节。", kBoth},
      {kKindFont, File(Bytes(2097153, 1)), "FONT：文件过大，最大 2097152 字节。", kBoth},
      {kKindLang, dir + "/folder", "LANG：所选路径是文件夹，不是文件。", kBoth},
      {kKindFv, dir + "/fifo", "FV：文件无法打开或读取。", kBoth},
      {kKindBmp, File(Pattern(500, 1)), "BMP：文件不是可读取的 BMP 图片。", kBoth},
      {kKindBmp, File(wide), "BMP：图片过大，最大 160 x 128 像素。", kBoth},
      {kKindPic, File(Bytes(2097153, 1)), "PIC：文件过大，最大 2097152 字节。", kBoth},
      {kKindTdb, File(Pattern(255, 1)), "TDB：文件过短，至少 256 字节（文件头）。", kBatch},
      {kKindTdb, File(Pattern(256 + 1008, 1)),
       "TDB：测试数据过多，最多 1007 字节（文件最大 1263 字节）。", kBatch},
  };
  for (const auto& [kind, path, text, presses] : cases) {
    for (const Presses press : {kBatch, kSingle}) {
      if ((presses & press) == 0) continue;
      SCOPED_TRACE(std::string(text) + (press == kBatch ? " (batch)" : " (single)"));
      UseDevice(sim::Faults{});
      host->boxes.clear();
      host->checked = {};
      host->Row(kind, path);
      (press == kBatch ? &OnBatchDownload : kSingleHandlers[kind])();
      ExpectRefused(text);
    }
  }
}

TEST_F(Refusals, SingleHostMayUseItsLargerBuffer) {
  const Bytes image = ImageFile(1048577);
  Put(kKindHost, image);
  OnDownloadHost();
  EXPECT_EQ(g_transfer.busy, 1);
  EXPECT_EQ(g_transfer.fileLength, 1048577u - 130u);
  EXPECT_EQ(g_transfer.blockCount, (1048577 - 130 + 43) / 44);
}

TEST_F(Refusals, LargestFilesThatFitAreAccepted) {
  Put(kKindBoot, ImageFile(1048576));
  Put(kKindPic, Bytes(2097152, 3));
  Put(kKindTdb, Pattern(256 + 1007, 1));
  Put(kKindBmp, MakeBmp(Picture(128, std::vector<Rgb>(160)), BmpLayout{}));
  OnBatchDownload();
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_EQ(g_transfer.busy, 1);
  EXPECT_EQ(g_transfer.batchQueue.size(), 4u);
}

// A refused row is reported in kind order, after its own checks and before
// any later row is looked at.
TEST_F(Refusals, BatchReportsTheFirstFailingRowOnly) {
  Put(kKindBoot, ImageFile(1048577, 0, /*tag=*/1));
  host->Row(kKindFont, "");
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M53"});  // the tag check comes first

  host->boxes.clear();
  Put(kKindBoot, ImageFile(1048577));
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"BOOT：文件过大，最大 1048576 字节。"});

  host->boxes.clear();
  Put(kKindBoot, ImageFile(500));
  Put(kKindRcdb, {});
  OnBatchDownload();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"RCDB：文件中没有可下载的数据。"});
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
}

TEST_F(Refusals, RefusedBootLeavesTheImageHeaderAlone) {
  g_transfer.imageHeader[0] = 0x77;
  Put(kKindBoot, ImageFile(500, 0, 0, /*byte108=*/2));
  OnBatchDownload();
  EXPECT_EQ(g_transfer.imageHeader[0], 0x77);
  EXPECT_EQ(g_transfer.headerByte108, 0);
}

}  // namespace
