// The packer and the report check against the wire format as the test reads it.
#include <gtest/gtest.h>

#include <array>

#include "link/packet_library.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;
using linktest::MakeReport;
using linktest::ParseFrame;

TEST(Crc16CcittTest, MatchesTheStandardCheckValueAndTheTableForm) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16Ccitt(reinterpret_cast<const std::uint8_t*>(check), 9), 0x29B1);
  EXPECT_EQ(Crc16Ccitt(nullptr, 0), 0xFFFF);
  const Bytes image = linktest::PatternImage(3000);
  EXPECT_EQ(Crc16Ccitt(image.data(), image.size()),
            linktest::ReferenceCrc(image.data(), image.size()));
}

TEST(CommandPackTest, LaysHeaderPayloadAndCrcOutAsDocumented) {
  std::array<std::uint8_t, 64> frame{};
  const std::uint8_t payload[] = {0x01, 0x03, 0xFF};
  const ST_PACKET_PARA para{0x1234, 0xBEEF, 0x43, 53, 0x0A0B};
  const std::uint16_t length =
      ZQ4400_RAP_COMMAND_PACK(frame.data(), 0x0143, payload, 3, 0x7E, nullptr, para);

  ASSERT_EQ(length, 18);
  const Bytes expectedHead = {0x5A, 0x01, 0x43, 0x12, 0x34, 0xBE, 0xEF, 53,
                              0x0A, 0x0B, 0x7E, 0x00, 0x03, 0x01, 0x03, 0xFF};
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 16), expectedHead);
  const std::uint16_t crc = linktest::ReferenceCrc(frame.data(), 16);
  EXPECT_EQ(frame[16], crc >> 8);
  EXPECT_EQ(frame[17], crc & 0xFF);
  EXPECT_EQ(frame[18], 0) << "the packer wrote past the frame it reported";
}

TEST(CommandPackTest, CarriesPayloadsUpToTheLargestWholeAndRefusesWhatCannotBeAFrame) {
  // 8-bit lengths would cut a data block or a chunk to 8 or 9 bytes and lose the image.
  Bytes frame(4096, 0);
  for (const std::size_t size : {std::size_t{2056}, std::size_t{2057}, kMaxFramePayload}) {
    const Bytes payload = linktest::PatternImage(size);
    const auto length = static_cast<std::uint16_t>(size);
    ASSERT_EQ(ZQ4400_RAP_COMMAND_PACK(frame.data(), 0x11, payload.data(), length, 0, nullptr, {}),
              15 + size);
    const auto parsed = ParseFrame(Bytes(frame.begin(), frame.begin() + 15 + length));
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.payload, payload);
  }
  const Bytes payload(kMaxFramePayload + 1, 0x55);
  EXPECT_EQ(ZQ4400_RAP_COMMAND_PACK(frame.data(), 1, payload.data(),
                                    static_cast<std::uint16_t>(payload.size()), 0, nullptr, {}),
            0);
  EXPECT_EQ(ZQ4400_RAP_COMMAND_PACK(frame.data(), 1, nullptr, 4, 0, nullptr, {}), 0);
  EXPECT_EQ(ZQ4400_RAP_COMMAND_PACK(nullptr, 1, payload.data(), 4, 0, nullptr, {}), 0);
}

TEST(PayloadPackageTest, ConcatenatesBothPartsAndCommandPackageUsesAZeroRecord) {
  const std::uint8_t first[] = {1, 2, 3};
  const std::uint8_t second[] = {9, 8};
  std::array<std::uint8_t, 16> payload{};
  ASSERT_EQ(Rap_Payload_Package(payload.data(), first, 3, second, 2), 5);
  EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 6), (Bytes{1, 2, 3, 9, 8, 0}));
  EXPECT_EQ(Rap_Payload_Package(payload.data(), first, 0, nullptr, 0), 0);

  Bytes frame(64, 0xEE);
  const std::uint16_t length = Rap_Command_Package(frame.data(), 0x06, payload.data(), 5);
  ASSERT_EQ(length, 20);
  frame.resize(length);
  const auto parsed = ParseFrame(frame);
  ASSERT_TRUE(parsed.valid);
  EXPECT_EQ(parsed.code, 0x06);
  EXPECT_EQ(parsed.total + parsed.index + parsed.chunkSize + parsed.spare + parsed.option, 0);
  EXPECT_EQ(parsed.payload, (Bytes{1, 2, 3, 9, 8}));
}

// The report with one byte changed and its CRC made right again.
std::array<std::uint8_t, 64> Resealed(std::array<std::uint8_t, 64> report, std::size_t at,
                                      std::uint8_t value) {
  report[at] = value;
  const std::uint16_t crc = linktest::ReferenceCrc(report.data(), 62);
  report[62] = static_cast<std::uint8_t>(crc >> 8);
  report[63] = static_cast<std::uint8_t>(crc);
  return report;
}

TEST(ReportCheckTest, AcceptsOnlyA64ByteReplyToTheExpectedCodeWithRightSyncAndLength) {
  const auto report = MakeReport(0x8043, 0, 4);
  EXPECT_NE(PC_RX_RAP_COMMAND_CHECK(report.data(), 0x8043, 64), 0);
  EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(report.data(), 0x8042, 64), 0) << "wrong code";
  EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(report.data(), 0x0043, 64), 0) << "command, not reply, code";
  for (const std::uint16_t count : {0, 1, 8, 62, 63, 65, 0xFFFF}) {
    EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(report.data(), 0x8043, count), 0) << count;
  }
  EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(nullptr, 0x8043, 64), 0);
  // A reply to code 0 is still told apart from a rejection.
  EXPECT_NE(PC_RX_RAP_COMMAND_CHECK(MakeReport(0x0000).data(), 0x0000, 64), 0);
  // A right CRC does not make up for a wrong sync or length field.
  EXPECT_NE(PC_RX_RAP_COMMAND_CHECK(Resealed(report, 8, 3).data(), 0x8043, 64), 0);
  EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(Resealed(report, 0, 0x5A).data(), 0x8043, 64), 0);
  EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(Resealed(report, 4, 0x3F).data(), 0x8043, 64), 0);
}

TEST(ReportCheckTest, RejectsEveryDamagedByte) {
  const auto good = MakeReport(0x8063, 0x0102, 0);
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (const std::uint8_t flip : {0x01, 0x80}) {
      auto damaged = good;
      damaged[at] ^= flip;
      EXPECT_EQ(PC_RX_RAP_COMMAND_CHECK(damaged.data(), 0x8063, 64), 0)
          << "byte " << at << " flip " << int{flip};
    }
  }
}

}  // namespace
