// Feeding the emulated device frames and taking its reports, in tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "sim/device_model.h"
#include "tests/sim/wire_frames.h"

namespace simtest {

using Report = std::array<std::uint8_t, 64>;

inline bool Send(sim::DeviceModel& model, const Bytes& frame, sim::Micros now = 0) {
  return model.ReceiveFrame(frame.data(), frame.size(), now);
}

inline std::optional<Report> Take(sim::DeviceModel& model, sim::Micros now = 0) {
  Report report{};
  if (!model.TakeReport(now, report.data())) return std::nullopt;
  return report;
}

inline std::uint16_t ReplyCode(const Report& r) { return static_cast<std::uint16_t>(r[1] << 8 | r[2]); }
inline std::uint16_t Echo(const Report& r) { return static_cast<std::uint16_t>(r[5] << 8 | r[6]); }
inline std::uint8_t Status(const Report& r) { return r[8]; }

}  // namespace simtest
