// Files that would not fit their buffers, or would send nothing, are refused
// before anything is read into the record: a message naming the row and the
// reason, nothing sent, busy clear.
#include <sys/stat.h>

#include <filesystem>

#include "bmp_files.h"
#include "engine/batch.h"
#include "engine/single_download.h"
#include "engine/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

struct Refusal {
  std::uint8_t kind;
  std::function<std::string(const std::string& dir)> makeFile;
  const char* text;
};

std::string Write(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

std::function<std::string(const std::string&)> FileOf(Bytes bytes) {
  return [bytes](const std::string& dir) { return Write(dir + "/image", bytes); };
}

Bytes Picture161() {
  return MakeBmp(Picture(1, std::vector<Rgb>(161, Rgb{1, 2, 3})), BmpLayout{});
}

class Refusals : public EngineTest {
 protected:
  void ExpectRefused(const std::string& text, const std::string& what) {
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{text}) << what;
    EXPECT_EQ(host->boxes[0].title, "M11") << what;
    EXPECT_EQ(host->boxes[0].icon, MessageIcon::Warning) << what;
    EXPECT_EQ(sim::RecordedCalls().findBusses, 0) << what;
    EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0) << what;
    EXPECT_EQ(g_transfer.busy, 0) << what;
    EXPECT_FALSE(host->AnyTimerArmed()) << what;
    EXPECT_EQ(g_transfer.fileLength, 0u) << what;
  }
};

const std::vector<Refusal>& Cases() {
  static const std::vector<Refusal> cases = {
      {kKindBoot, FileOf(ImageFile(129)), "BOOT：文件过短，至少 130 字节（128 字节文件头和 2 字节结尾）。"},
      {kKindBoot, FileOf(ImageFile(130)), "BOOT：文件中没有可下载的数据。"},
      {kKindBoot, FileOf(ImageFile(1048577)), "BOOT：文件过大，最大 1048576 字节。"},
      {kKindHost, FileOf(ImageFile(500, 0, 0, 1)), "HOST：文件头第 108 字节不为 0，无法下载。"},
      {kKindRcdb, FileOf({}), "RCDB：文件中没有可下载的数据。"},
      // Its last 53-byte short block would end past the 2 MiB buffer.
      {kKindRcdb, FileOf(Bytes(2097105, 1)), "RCDB：文件过大，最大 2097104 字节。"},
      {kKindFont, FileOf(Bytes(2097153, 1)), "FONT：文件过大，最大 2097152 字节。"},
      {kKindLang, [](const std::string& dir) {
         std::filesystem::create_directory(dir + "/folder");
         return dir + "/folder";
       },
       "LANG：所选路径是文件夹，不是文件。"},
      {kKindFv, [](const std::string& dir) {
         mkfifo((dir + "/fifo").c_str(), 0600);
         return dir + "/fifo";
       },
       "FV：文件无法打开或读取。"},
      {kKindBmp, FileOf(Pattern(500, 1)), "BMP：文件不是可读取的 BMP 图片。"},
      {kKindBmp, FileOf(Picture161()), "BMP：图片过大，最大 160 x 128 像素。"},
      {kKindPic, FileOf(Bytes(2097153, 1)), "PIC：文件过大，最大 2097152 字节。"},
  };
  return cases;
}

void (*const kSingleHandlers[8])() = {&OnDownloadBoot, &OnDownloadHost, &OnDownloadRcdb,
                                      &OnDownloadFont, &OnDownloadLang, &OnDownloadFv,
                                      &OnDownloadBmp,  &OnDownloadPic};

TEST_F(Refusals, BatchRefusesEachAtThePress) {
  std::vector<Refusal> cases = Cases();
  cases.push_back({kKindHost, FileOf(ImageFile(1048577)), "HOST：文件过大，最大 1048576 字节。"});
  cases.push_back({kKindTdb, FileOf(Pattern(255, 1)), "TDB：文件过短，至少 256 字节（文件头）。"});
  cases.push_back({kKindTdb, FileOf(Pattern(256 + 1008, 1)),
                   "TDB：测试数据过多，最多 1007 字节（文件最大 1263 字节）。"});
  for (const Refusal& refusal : cases) {
    UseDevice(sim::Faults{});
    host->boxes.clear();
    host->checked = {};
    std::filesystem::remove_all(dir + "/image");
    host->Row(refusal.kind, refusal.makeFile(dir));
    OnBatchDownload();
    ExpectRefused(refusal.text, refusal.text);
    EXPECT_TRUE(g_transfer.batchQueue.empty());
  }
}

TEST_F(Refusals, SingleDownloadRefusesEachBeforeBusy) {
  std::vector<Refusal> cases = Cases();
  cases.push_back({kKindHost, FileOf(ImageFile(2097153)), "HOST：文件过大，最大 2097152 字节。"});
  for (const Refusal& refusal : cases) {
    UseDevice(sim::Faults{});
    host->boxes.clear();
    std::filesystem::remove_all(dir + "/image");
    host->Row(refusal.kind, refusal.makeFile(dir));
    kSingleHandlers[refusal.kind]();
    ExpectRefused(refusal.text, refusal.text);
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
