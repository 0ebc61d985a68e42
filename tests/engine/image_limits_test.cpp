// The loaders' verdict on files at and around each limit, and on paths that
// are no ordinary file or not what their row expects: the rows of
// docs/reliability.md that the refusal and flow tests do not already show.
#include <gtest/gtest.h>

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "bmp_files.h"
#include "engine/image_files.h"
#include "engine_fixture.h"

namespace {

class ImageLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tamsolt-limits-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string File(const Bytes& bytes) {
    const std::string path = dir + "/f" + std::to_string(files++);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::string dir;
  int files = 0;
};

Bytes Bmp(std::size_t width, std::size_t height) {
  return MakeBmp(Picture(height, std::vector<Rgb>(width, Rgb{9, 8, 7})), BmpLayout{});
}

TEST_F(ImageLimits, EachRowTakesWhatFitsAndRefusesTheRest) {
  constexpr auto kBatch = DownloadMode::kBatch;
  constexpr auto kSingle = DownloadMode::kSingle;
  const Bytes picture = Bmp(2, 1);
  Bytes png = Pattern(300, 5);
  std::copy_n("\x89PNG\r\n\x1A\n", 8, png.begin());
  std::filesystem::create_directory(dir + "/folder");
  std::filesystem::create_directory_symlink(dir + "/folder", dir + "/link");
  struct Row {
    const char* name;
    std::uint8_t kind;
    DownloadMode mode;
    std::string path;
    ImageRefusal refusal;
    std::uint32_t fileLength;  // as loaded, when accepted
    std::uint16_t blocks = 0;  // what the loaded image is sent in, when accepted
  };
  Bytes sevenBits = Bmp(2, 1);
  sevenBits[28] = 7;  // bits per pixel: no depth a bitmap has
  const Row rows[] = {
      {"BOOT, one payload byte", kKindBoot, kBatch, File(ImageFile(131)), ImageRefusal::kNone, 1, 1},
      {"HOST, header and trailer short", kKindHost, kBatch, File(ImageFile(129)), ImageRefusal::kTooShort, 0},
      {"HOST, header and trailer only", kKindHost, kBatch, File(ImageFile(130)), ImageRefusal::kEmpty, 0},
      {"HOST batch, largest", kKindHost, kBatch, File(ImageFile(1048576)), ImageRefusal::kNone, 1048446, 23829},
      {"HOST single, largest", kKindHost, kSingle, File(ImageFile(2097152)), ImageRefusal::kNone, 2097022, 47660},
      {"RCDB, largest whole short blocks", kKindRcdb, kBatch, File(Bytes(2097104, 1)), ImageRefusal::kNone, 2097104,
       39568},
      {"FV, empty", kKindFv, kSingle, File({}), ImageRefusal::kEmpty, 0},
      {"FV, one byte over", kKindFv, kSingle, File(Bytes(2097105, 1)), ImageRefusal::kTooLarge, 0},
      {"FONT, empty", kKindFont, kBatch, File({}), ImageRefusal::kEmpty, 0},
      {"FONT, largest", kKindFont, kBatch, File(Bytes(2097152, 1)), ImageRefusal::kNone, 2097152, 1024},
      {"LANG, largest", kKindLang, kSingle, File(Bytes(2097152, 1)), ImageRefusal::kNone, 2097152, 1024},
      {"LANG, one byte over", kKindLang, kBatch, File(Bytes(2097153, 1)), ImageRefusal::kTooLarge, 0},
      {"LANG, empty", kKindLang, kBatch, File({}), ImageRefusal::kEmpty, 0},
      {"PIC, empty", kKindPic, kSingle, File({}), ImageRefusal::kEmpty, 0},
      {"BMP, a bit depth of 7", kKindBmp, kBatch, File(sevenBits), ImageRefusal::kNotBitmap, 0},
      {"TDB, one data byte", kKindTdb, kBatch, File(Pattern(257, 1)), ImageRefusal::kNone, 257, 1},
      {"BMP, 160 x 128", kKindBmp, kBatch, File(Bmp(160, 128)), ImageRefusal::kNone, 40976, 21},
      {"BMP, 129 high", kKindBmp, kSingle, File(Bmp(1, 129)), ImageRefusal::kPictureTooLarge, 0},
      {"BMP, empty", kKindBmp, kBatch, File({}), ImageRefusal::kNotBitmap, 0},
      {"BMP, header cut", kKindBmp, kBatch, File(Bytes(picture.begin(), picture.begin() + 30)),
       ImageRefusal::kNotBitmap, 0},
      {"BMP, a PNG inside", kKindBmp, kBatch, File(png), ImageRefusal::kNotBitmap, 0},
      {"BMP, a BOOT image inside", kKindBmp, kBatch, File(ImageFile(500)), ImageRefusal::kNotBitmap, 0},
      {"BOOT, a bitmap inside", kKindBoot, kBatch, File(picture), ImageRefusal::kTooShort, 0},
      {"PIC, a bitmap inside", kKindPic, kBatch, File(picture), ImageRefusal::kNone,
       static_cast<std::uint32_t>(picture.size()), 1},
      {"BOOT, link to a folder", kKindBoot, kBatch, dir + "/link", ImageRefusal::kFolder, 0},
      {"FONT, a device node", kKindFont, kBatch, "/dev/null", ImageRefusal::kUnreadable, 0},
      {"TDB, nothing there", kKindTdb, kBatch, dir + "/none", ImageRefusal::kUnreadable, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckImageFile(row.kind, row.path, row.mode).refusal, row.refusal);
    g_transfer.fileLength = 0;
    const auto staging = std::make_unique<std::uint8_t[]>(MaxFileSize(row.kind, row.mode));
    EXPECT_EQ(LoadImageFile(row.kind, row.path, row.mode, staging.get()).refusal, row.refusal);
    EXPECT_EQ(g_transfer.fileLength, row.fileLength);
    if (row.refusal == ImageRefusal::kNone) {
      EXPECT_EQ(ItemBlockCount(row.kind, g_transfer.fileLength), row.blocks);
    }
  }
}

// A file the account may not read fails at its open, as a missing path does.
// Root reads anything, so the check runs in a child under the account
// "nobody", as the settings tests do.
TEST_F(ImageLimits, UnreadableFileIsRefusedAtItsOpen) {
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  const std::string path = File(Pattern(300, 4));
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  const pid_t child = fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(99);
    const auto staging = std::make_unique<std::uint8_t[]>(MaxFileSize(kKindFv, DownloadMode::kBatch));
    const ImageRefusal checked = CheckImageFile(kKindFv, path, DownloadMode::kBatch).refusal;
    const ImageRefusal loaded = LoadImageFile(kKindFv, path, DownloadMode::kBatch, staging.get()).refusal;
    const bool untouched = g_transfer.fileLength == 0;
    _exit(checked == ImageRefusal::kUnreadable && loaded == ImageRefusal::kUnreadable && untouched ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "99: could not switch to nobody; 1: not refused as unreadable";
}

// The batch's tag check reads the header first: it must tell a folder or a
// short file from a wrong tag.
TEST_F(ImageLimits, HeaderReadRefusesWhatHasNoHeader) {
  std::filesystem::create_directory(dir + "/folder");
  std::uint8_t header[kImageHeaderSize];
  EXPECT_EQ(ReadImageHeader(dir + "/folder", header), ImageRefusal::kFolder);
  EXPECT_EQ(ReadImageHeader(File(ImageFile(129)), header), ImageRefusal::kTooShort);
  EXPECT_EQ(ReadImageHeader("/dev/null", header), ImageRefusal::kUnreadable);
  EXPECT_EQ(ReadImageHeader(File(ImageFile(130, 0, /*tag=*/5)), header), ImageRefusal::kNone);
  EXPECT_EQ(header[111], 5);
}

}  // namespace
