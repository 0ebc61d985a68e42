// libFuzzer target: the report check must never read past the count it is
// given nor accept anything but a well-formed report for the expected code;
// the packer must lay out any payload it accepts as documented.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/packet_library.h"

namespace {

std::uint16_t Be16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint16_t expected = Be16(data);
  // An exact-size copy, so a read past count is caught.
  const std::vector<std::uint8_t> report(data + 2, data + size);
  const auto count = static_cast<std::uint16_t>(report.size() > 0xFFFF ? 0xFFFF : report.size());

  if (PC_RX_RAP_COMMAND_CHECK(report.data(), expected, count) != 0) {
    Require(count == kReportSize);
    Require(report[0] == kReportSync);
    Require(Be16(&report[1]) == expected);
    Require(Be16(&report[3]) == kReportSize);
    Require(Be16(&report[kReportCrcOffset]) == Crc16Ccitt(report.data(), kReportCrcOffset));
  }

  if (report.size() <= kMaxFramePayload) {
    std::vector<std::uint8_t> frame(kFrameOverhead + report.size());
    const ST_PACKET_PARA para{expected, static_cast<std::uint16_t>(~expected), 0x63, 53, 0};
    const std::uint16_t length =
        ZQ4400_RAP_COMMAND_PACK(frame.data(), expected, report.data(),
                                static_cast<std::uint16_t>(report.size()), 0, nullptr, para);
    Require(length == frame.size());
    Require(frame[0] == kFrameSync && Be16(&frame[1]) == expected);
    Require(Be16(&frame[11]) == report.size());
    Require(Be16(&frame[length - 2]) == Crc16Ccitt(frame.data(), length - 2u));
  }
  return 0;
}
