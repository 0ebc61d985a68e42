// Where the device puts what it receives, and what it stores at the end of an
// exchange.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t n) {
  Bytes slice(n, 0);
  for (std::size_t i = 0; i < n && from + i < bytes.size(); ++i) slice[i] = bytes[from + i];
  return slice;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sends every frame and reads its report at once, as the host does.
void Exchange(sim::DeviceModel& model, const Bytes& frame) {
  ASSERT_TRUE(Send(model, frame));
  ASSERT_TRUE(Take(model)) << model.LastRejection();
}

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("tamsolt-sim-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

TEST(DeviceImages, PlacesDataBlocksByIndexAndCutsAtTheStatedLength) {
  sim::DeviceModel model(sim::Faults{}, "");
  const Bytes image = Pattern(5000, 11);
  for (std::uint16_t i : {2, 0, 1}) {
    Exchange(model, DataBlock(0x23, i, 5000, Slice(image, i * 2048u, 2048)));
  }
  EXPECT_EQ(model.Images().at("pic"), image);
}

TEST(DeviceImages, PlacesShortBlocksAtIndexTimes53InTheImageOfTheirCode) {
  sim::DeviceModel model(sim::Faults{}, "");
  const std::pair<std::uint16_t, const char*> codes[] = {
      {0x11, "rcdb"}, {0x12, "font"}, {0x19, "fv"}, {0x1A, "bmp"}, {0x22, "lang"}, {0x23, "pic"}};
  std::uint8_t seed = 0;
  for (const auto& [code, name] : codes) {
    const Bytes image = Pattern(53 * 3, ++seed);
    for (std::uint16_t i : {1, 2, 0}) Exchange(model, ShortBlock(code, i, 159, Slice(image, i * 53u, 53)));
    EXPECT_EQ(model.Images().at(name), image) << name;
  }
}

TEST(DeviceImages, PlacesChunksByTargetAndChunkSize) {
  sim::DeviceModel model(sim::Faults{}, "");
  const Bytes boot = Pattern(100, 1);
  const Bytes host = Pattern(90, 2);
  for (std::uint16_t i = 0; i < 3; ++i) {
    Exchange(model, Chunk(0x42, 3, i, 100, Slice(boot, i * 44u, 44)));
    Exchange(model, Chunk(0x48, 2, i, 90, Slice(host, i * 44u, 44)));
  }
  EXPECT_EQ(model.Images().at("boot"), boot);
  EXPECT_EQ(model.Images().at("host"), host);

  // After a restart the host sends 2048-byte chunks.
  sim::DeviceModel large(sim::Faults{}, "");
  const Bytes image = Pattern(3000, 3);
  Exchange(large, Chunk(0x42, 3, 1, 3000, Slice(image, 2048, 2048)));
  Exchange(large, Chunk(0x42, 3, 0, 3000, Slice(image, 0, 2048)));
  EXPECT_EQ(large.Images().at("boot"), image);
}

TEST(DeviceImages, BuildsTestDataFromHeadAndChunks) {
  sim::DeviceModel model(sim::Faults{}, "");
  const Bytes data = Pattern(120, 8);
  Exchange(model, TestDataHead(data));
  EXPECT_EQ(model.Images().at("tdb"), Slice(data, 0, 53));
  for (std::uint16_t i = 0; i < 3; ++i) Exchange(model, TestDataChunk(i, 120, Slice(data, i * 53u, 53)));
  EXPECT_EQ(model.Images().at("tdb"), data);

  sim::DeviceModel shortData(sim::Faults{}, "");
  Exchange(shortData, TestDataHead(Pattern(20, 4)));
  EXPECT_EQ(shortData.Images().at("tdb"), Pattern(20, 4));
}

TEST(DeviceImages, WritesEveryImageAndASummaryAtEachEndAndStartsEachExchangeEmpty) {
  TempDir dir;
  sim::DeviceModel model(sim::Faults{}, dir.Path().string());
  const Bytes boot = Pattern(60, 1);
  const Bytes font = Pattern(2048, 2);
  Exchange(model, Begin(0x43, 3));
  Exchange(model, Chunk(0x42, 3, 0, 60, Slice(boot, 0, 44)));
  Exchange(model, Chunk(0x42, 3, 1, 60, Slice(boot, 44, 44)));
  Exchange(model, DataBlock(0x12, 0, 2048, font));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "boot.bin")) << "nothing is stored before the end";
  Exchange(model, Empty(0x44));

  EXPECT_EQ(ReadBytes(dir.Path() / "boot.bin"), boot);
  EXPECT_EQ(ReadBytes(dir.Path() / "font.bin"), font);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "host.bin"));
  const std::string summary = ReadText(dir.Path() / "summary.txt");
  EXPECT_NE(summary.find("frames 5\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("rejected 0\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("command 0x42 2\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("command 0x44 1\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("image boot.bin 60\n"), std::string::npos) << summary;
  EXPECT_EQ(model.GetSummary().exchangesEnded, 1);
  EXPECT_EQ(model.Images().count("boot"), 1u) << "kept visible after the end";

  // A new exchange starts with no images; the files of the last one stay.
  Exchange(model, ShortBlock(0x19, 0, 53, Pattern(53, 2)));
  EXPECT_EQ(model.Images().count("boot"), 0u);
  Exchange(model, Empty(0x4A));
  EXPECT_EQ(ReadBytes(dir.Path() / "fv.bin"), Pattern(53, 2));
  EXPECT_EQ(ReadBytes(dir.Path() / "boot.bin"), boot);
  EXPECT_EQ(model.GetSummary().exchangesEnded, 2);
}
