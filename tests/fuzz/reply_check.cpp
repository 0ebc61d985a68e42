// Fuzz target: the reply check on any report and any read result.
//
// Input: expected reply code (2 bytes, big-endian), a count byte, then the
// report bytes. Count byte 0..127: the read returned that many bytes; 128..255:
// the next 4 bytes are the read's result as a signed number (errors, counts
// larger than a report). A report the engine accepts must be the device's
// whole 64-byte reply to the expected code, checked here against the device's
// own layout; the echo and status reads must be the report's bytes 5-6 and 8;
// a report the emulated device builds must be accepted for its code only; the
// packer must lay out any payload it takes as documented.
#include <algorithm>
#include <cstring>
#include <vector>

#include "record/transfer_context.h"
#include "link/packet_library.h"
#include "link/reply_frames.h"
#include "sim/device_wire.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

std::uint16_t Be16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

// The device's reply layout, from the device's side of the wire.
bool IsWholeReply(const std::uint8_t* report, std::int32_t length, std::uint16_t code) {
  return length == static_cast<std::int32_t>(sim::kReportBytes) && report[0] == sim::kReportSyncByte &&
         Be16(report + 1) == code && Be16(report + 3) == sim::kReportBytes &&
         Be16(report + 62) == sim::CrcCcittFalse(report, 62);
}

void CheckEngineRead(std::uint16_t expected, std::int32_t length, const std::vector<std::uint8_t>& bytes) {
  std::memset(g_transfer.replyBuffer, 0, sizeof g_transfer.replyBuffer);
  std::copy_n(bytes.begin(), std::min(bytes.size(), sizeof g_transfer.replyBuffer), g_transfer.replyBuffer);
  g_transfer.replyLength = length;
  g_transfer.expectedReply = expected;
  const bool accepted = CheckReply();
  Require(accepted == IsWholeReply(g_transfer.replyBuffer, length, expected),
          "accepted exactly the whole reply to the expected code");
  Require(ReplyEcho() == Be16(g_transfer.replyBuffer + 5), "echo is bytes 5-6");
  Require(ReplyStatus() == g_transfer.replyBuffer[8], "status is byte 8");
}

// The library itself on an exact-size copy, so a read past count is caught.
void CheckLibraryCount(std::uint16_t expected, const std::vector<std::uint8_t>& bytes) {
  const auto count = static_cast<std::uint16_t>(std::min<std::size_t>(bytes.size(), 0xFFFF));
  const std::vector<std::uint8_t> exact(bytes.begin(), bytes.begin() + count);
  const bool accepted = PC_RX_RAP_COMMAND_CHECK(exact.data(), expected, count) != 0;
  Require(!accepted || IsWholeReply(exact.data(), count, expected), "library accepts whole replies only");
}

// A reply the emulated device builds is the engine's reply to its code and to no other.
void CheckDeviceReply(std::uint16_t expected, const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 9) return;
  const std::uint16_t code = Be16(bytes.data() + 1);
  std::vector<std::uint8_t> report(sim::kReportBytes);
  sim::BuildReport(code, Be16(bytes.data() + 5), bytes[8], report.data());
  std::memcpy(g_transfer.replyBuffer, report.data(), report.size());
  g_transfer.replyLength = static_cast<std::int32_t>(report.size());
  g_transfer.expectedReply = expected;
  Require(CheckReply() == (code == expected), "device reply accepted for its own code only");
  Require(ReplyEcho() == Be16(bytes.data() + 5) && ReplyStatus() == bytes[8], "device echo and status read back");
}

void CheckPacker(std::uint16_t code, const std::vector<std::uint8_t>& payload) {
  if (payload.size() > kMaxFramePayload) return;
  std::vector<std::uint8_t> frame(kFrameOverhead + payload.size());
  const ST_PACKET_PARA para{code, static_cast<std::uint16_t>(~code), 0x63, 53, 0};
  const std::uint16_t length = ZQ4400_RAP_COMMAND_PACK(
      frame.data(), code, payload.data(), static_cast<std::uint16_t>(payload.size()), 0, nullptr, para);
  Require(length == frame.size(), "frame length");
  Require(frame[0] == kFrameSync && Be16(&frame[1]) == code, "frame sync and code");
  Require(Be16(&frame[11]) == payload.size(), "frame payload length");
  Require(Be16(&frame[length - 2]) == sim::CrcCcittFalse(frame.data(), length - 2u), "frame CRC");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint16_t expected = input.Big16();
  const std::uint8_t countByte = input.Byte();
  std::int32_t length = countByte;
  if (countByte >= 128) {
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i) raw = raw << 8 | input.Byte();
    length = static_cast<std::int32_t>(raw);
  }
  const std::string_view rest = input.Rest();
  const std::vector<std::uint8_t> bytes(rest.begin(), rest.end());

  CheckEngineRead(expected, length, bytes);
  CheckLibraryCount(expected, bytes);
  CheckDeviceReply(expected, bytes);
  CheckPacker(expected, bytes);
  return 0;
}
