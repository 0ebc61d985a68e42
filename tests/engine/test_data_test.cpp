// The batch-write file: the 256-byte header is skipped, the data goes out in
// 53-byte chunks, the last one padded with zeros.
#include "engine/batch.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"

namespace {

class TestDataFile : public EngineTest {
 protected:
  // Runs a batch of the file alone and returns its test-data chunk frames.
  std::vector<SentFrame> SendFile(const Bytes& file) {
    UseDevice(sim::Faults{});
    RunRow(kKindTdb, file, &OnBatchDownload);
    std::vector<SentFrame> chunks;
    for (const SentFrame& f : SentFrames()) {
      if (f.code == 0x63) chunks.push_back(f);
    }
    return chunks;
  }
  static Bytes Padded(const Bytes& data, std::size_t from) {
    Bytes chunk(53, 0);
    for (std::size_t i = 0; i < 53 && from + i < data.size(); ++i) chunk[i] = data[from + i];
    return chunk;
  }
};

TEST_F(TestDataFile, HeaderAloneSendsNoChunkAndCompletesAtOnce) {
  const std::vector<SentFrame> chunks = SendFile(Pattern(256, 1));
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M40", "M49"}));
  EXPECT_EQ(SentCodes(), (std::vector<std::uint16_t>{0x43, 0x44}));
  EXPECT_EQ(host->ranges.back(), (std::pair<std::uint16_t, std::uint16_t>{0, 0}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(TestDataFile, ChunksArePaddedWithZeros) {
  for (std::size_t size : {257u, 309u, 310u, 1263u}) {
    const Bytes file = Pattern(size, static_cast<std::uint32_t>(size));
    const Bytes data = Slice(file, 256, size - 256);
    const std::vector<SentFrame> chunks = SendFile(file);
    ASSERT_EQ(chunks.size(), (data.size() + 52) / 53) << size;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].index, i) << size;
      EXPECT_EQ(chunks[i].total, data.size()) << size;
      EXPECT_EQ(chunks[i].chunkSize, 53) << size;
      EXPECT_FALSE(chunks[i].scrambled);
      EXPECT_EQ(chunks[i].payload, Padded(data, i * 53)) << size << " chunk " << i;
    }
    EXPECT_EQ(Received("tdb"), data) << size;
  }
}

// Each chunk counts as written only on its own reply: after a restart the
// head's reply is awaited before chunk 0, and a reply echoing another index
// sends the chunk again.
TEST_F(TestDataFile, EachChunkIsAcknowledgedByItsOwnReply) {
  struct Case {
    const char* name;
    sim::Faults faults;
    std::vector<std::uint16_t> indexes;
  };
  // Frames: begin, (begin again, head,) chunks, end.
  const Case cases[] = {
      {"last chunk unanswered after a restart", {.silentFromFrame = 5, .silentReplies = 1, .beginStatus = 3},
       {0, 1, 2, 2}},
      {"chunk 1 answered with another index", {.wrongEchoAtFrame = 2}, {0, 1, 1, 2}},
  };
  const Bytes file = Pattern(256 + 3 * 53, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseDevice(c.faults);
    host->boxes.clear();
    RunRow(kKindTdb, file, &OnBatchDownload);
    std::vector<std::uint16_t> indexes;
    for (const SentFrame& f : SentFrames()) {
      if (f.code == 0x63 && f.chunkSize == 53) indexes.push_back(f.index);
    }
    EXPECT_EQ(indexes, c.indexes);
    EXPECT_EQ(Received("tdb"), Slice(file, 256, 3 * 53));
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M40", "M49"}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
  }
}

}  // namespace
