// The sample generator and the device check: the check accepts a device
// folder built from the samples' own recipe (not from their files) and
// refuses every kind of difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "demo/device_check.h"
#include "demo/sample_images.h"

namespace fs = std::filesystem;

namespace {

class SampleCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tamsolt-demo-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "sources");
    fs::create_directories(root_ / "device");
  }
  void TearDown() override { fs::remove_all(root_); }

  // The samples written as files, and the device folder as their recipe
  // says it must be: payloads, pictures and test data taken before they were
  // packed into files.
  void WriteSamplesAndDevice(const SampleSizes& s) {
    for (const SampleImage& image : MakeSampleImages(s)) {
      ASSERT_TRUE(WriteFileBytes(root_ / "sources" / image.fileName, image.bytes));
      sources_.push_back({image.kind, root_ / "sources" / image.fileName});
    }
    const auto store = [&](RowKind kind, const Bytes& bytes) {
      ASSERT_TRUE(WriteFileBytes(Stored(kind), bytes));
    };
    const auto program = [](std::size_t payload, std::uint8_t seed) {
      return ScrambledB(PatternBytes(payload, seed));
    };
    store(RowKind::kBoot, program(s.bootPayload, 1));
    store(RowKind::kHost, program(s.hostPayload, 2));
    store(RowKind::kRcdb, ScrambledB(PatternBytes(s.rcdbBlocks * 53, 3)));
    store(RowKind::kFont, ScrambledB(PatternBytes(s.font, 4)));
    store(RowKind::kLang, PatternBytes(s.lang, 5));
    store(RowKind::kFv, PatternBytes(s.fvBlocks * 53, 6));
    store(RowKind::kBmp, DevicePicture(s.pictureWidth, s.pictureHeight, 7));
    store(RowKind::kPic, ScrambledB(PatternBytes(s.pic, 8)));
    store(RowKind::kTdb, PatternBytes(s.testData, 9));
  }

  fs::path Stored(RowKind kind) const { return root_ / "device" / (std::string(DeviceImageName(kind)) + ".bin"); }
  std::vector<ImageFinding> Check() const { return CheckDeviceImages(sources_, root_ / "device"); }

  fs::path root_;
  std::vector<SourceFile> sources_;
};

TEST_F(SampleCheck, DemoSamplesStayWithinWhatTheToolTakes) {
  const std::vector<SampleImage> images = MakeSampleImages(DemoSampleSizes());
  ASSERT_EQ(images.size(), 9u);
  for (int k = 0; k < kRowKindCount; ++k) {
    const SampleImage& image = images[static_cast<std::size_t>(k)];
    EXPECT_EQ(image.kind, kAllRowKinds[k]) << "batch order";
    EXPECT_TRUE(ExpectedStore(image.kind, image.bytes).problem.empty()) << image.fileName;
    const bool program = image.kind == RowKind::kBoot || image.kind == RowKind::kHost;
    // A batch stages a program in 1 MiB; the short-block kinds end on a whole
    // block inside the 2 MiB buffer.
    EXPECT_LE(image.bytes.size(), program ? 1048576u : 2097104u) << image.fileName;
  }
  EXPECT_EQ(images[6].bytes.size(), 54u + 160 * 128 * 3) << "a full 160 x 128 picture";
  EXPECT_EQ(images[8].bytes.size(), 256u + 1007) << "the most test data a batch takes";
}

TEST_F(SampleCheck, DeviceFolderFromTheRecipeIsAcceptedWithItsVerdict) {
  WriteSamplesAndDevice(SmallSampleSizes());
  const std::vector<ImageFinding> findings = Check();
  ASSERT_EQ(findings.size(), 9u);
  for (const ImageFinding& finding : findings) EXPECT_TRUE(finding.matches) << finding.line;
  EXPECT_TRUE(AllMatch(findings));
  EXPECT_EQ(Verdict(findings), "Verdict: OK, the device stored all 9 images byte for byte.");
}

TEST_F(SampleCheck, EveryKindOfDifferenceIsRefusedAndNamed) {
  struct Case {
    RowKind kind;
    std::function<void(Bytes&)> change;  // applied to the stored image; null removes it
    const char* says;
  };
  const Case cases[] = {
      {RowKind::kBoot, [](Bytes& b) { b[0] ^= 1; }, "differs at byte 0 of 300"},
      {RowKind::kFont, [](Bytes& b) { b[4999] ^= 0x80; }, "differs at byte 4999 of 5000"},
      {RowKind::kBmp, [](Bytes& b) { b.back() = 1; }, "differs at byte 57 of 58"},
      {RowKind::kLang, [](Bytes& b) { b.pop_back(); }, "2099 bytes, expected 2100"},
      {RowKind::kTdb, [](Bytes& b) { b.push_back(0); }, "101 bytes, expected 100"},
      {RowKind::kFv, [](Bytes& b) { b.resize(b.size() + 53); }, "265 bytes, expected 212"},
      {RowKind::kPic, nullptr, "missing"},
  };
  WriteSamplesAndDevice(SmallSampleSizes());
  for (const Case& c : cases) {
    SCOPED_TRACE(KindLabel(c.kind));
    const Bytes good = ReadFileBytes(Stored(c.kind)).value();
    if (c.change) {
      Bytes bad = good;
      c.change(bad);
      ASSERT_TRUE(WriteFileBytes(Stored(c.kind), bad));
    } else {
      fs::remove(Stored(c.kind));
    }
    const std::vector<ImageFinding> findings = Check();
    for (const ImageFinding& finding : findings) {
      EXPECT_EQ(finding.matches, finding.kind != c.kind) << finding.line;
      if (finding.kind == c.kind) {
        EXPECT_NE(finding.line.find(c.says), std::string::npos) << finding.line;
      }
    }
    EXPECT_FALSE(AllMatch(findings));
    EXPECT_EQ(Verdict(findings), "Verdict: FAILED, 1 of 9 images are not what their sources demand.");
    ASSERT_TRUE(WriteFileBytes(Stored(c.kind), good));
  }
}

// A record database that ends inside a short block: the device keeps the
// block whole, so any tail of up to 52 bytes passes, but no more and no less.
TEST_F(SampleCheck, ShortBlockImagesMayEndInAWholeBlock) {
  const Bytes source = PatternBytes(120, 3);
  const ExpectedImage expected = ExpectedStore(RowKind::kRcdb, source);
  Bytes stored = ScrambledB(source);
  stored.resize(159, 0xEE);  // three blocks; the tail is whatever the tool's buffer held
  EXPECT_TRUE(CompareImage(RowKind::kRcdb, "r", expected, stored).matches);
  EXPECT_FALSE(CompareImage(RowKind::kRcdb, "r", expected, ScrambledB(source)).matches);
  stored.resize(212);
  EXPECT_FALSE(CompareImage(RowKind::kRcdb, "r", expected, stored).matches);
  EXPECT_FALSE(CompareImage(RowKind::kRcdb, "r", expected, std::nullopt).matches);
}

TEST(DevicePictureOfBitmap, ReadsTopDownFilesAndRefusesWhatItCannotRead) {
  const Bytes bottomUp = BitmapFile(5, 3, 7);
  ASSERT_EQ(DevicePictureOfBitmap(bottomUp), DevicePicture(5, 3, 7));

  // The same picture with its rows stored top row first.
  Bytes topDown = bottomUp;
  const std::size_t stride = 16;
  for (std::size_t row = 0; row < 3; ++row) {
    std::copy_n(bottomUp.begin() + 54 + static_cast<std::ptrdiff_t>((2 - row) * stride), stride,
                topDown.begin() + 54 + static_cast<std::ptrdiff_t>(row * stride));
  }
  topDown[22] = 0xFD;  // height -3
  topDown[23] = topDown[24] = topDown[25] = 0xFF;
  EXPECT_EQ(DevicePictureOfBitmap(topDown), DevicePicture(5, 3, 7));

  Bytes eightBit = bottomUp;
  eightBit[28] = 8;
  Bytes cut = bottomUp;
  cut.pop_back();
  for (const Bytes& file : {eightBit, cut, BitmapFile(161, 1, 7), BitmapFile(1, 129, 7), Bytes(60, 0)}) {
    EXPECT_FALSE(DevicePictureOfBitmap(file).has_value());
  }
  EXPECT_FALSE(ExpectedStore(RowKind::kBmp, cut).problem.empty());
}

}  // namespace
