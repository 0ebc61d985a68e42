#include "supervisor/all_run_slots.h"

#include <algorithm>
#include <map>

AllRunSlots::AllRunSlots(Clock::duration rearmAfter, std::vector<DeviceAddress> written)
    : book_(rearmAfter), written_(std::move(written)) {}

void AllRunSlots::Started(const std::string& port, const std::string& device, Clock::time_point now) {
  if (!port.empty()) book_.Begin(port, device, now);
}

bool AllRunSlots::Known(const DeviceAddress& device) const {
  const auto same = [&](const DeviceAddress& other) { return other.SameAs(device); };
  return std::any_of(written_.begin(), written_.end(), same) ||
         std::any_of(late_.begin(), late_.end(), same);
}

bool AllRunSlots::Unplaced(const std::vector<PortedDevice>& bus) const {
  return std::any_of(bus.begin(), bus.end(), [&](const PortedDevice& device) {
    return device.port.empty() && !Known(device.address);
  });
}

std::vector<PortedDevice> AllRunSlots::Look(const std::vector<PortedDevice>& bus,
                                            Clock::time_point now, bool last) {
  std::map<std::string, std::string> boards;
  for (const PortedDevice& device : bus) {
    if (!device.port.empty()) boards[device.port] = device.address.Text();
  }
  book_.Observe(boards, now);
  // A child follows its board across a restart: whatever is on its port while
  // it writes is that board.
  for (const auto& [port, slot] : book_.Slots()) {
    if (slot.state == SlotState::kWriting) book_.Follow(port);
  }
  std::vector<PortedDevice> named;
  for (const PortedDevice& device : bus) {
    if (Known(device.address)) continue;
    if (device.port.empty() ? !last : book_.Slots().at(device.port).state != SlotState::kEmpty) {
      continue;
    }
    late_.push_back(device.address);
    named.push_back(device);
  }
  return named;
}

void AllRunSlots::Ended(const std::string& port, bool done, Clock::time_point now) {
  if (port.empty() || book_.Slots().count(port) == 0) return;
  book_.Finished(port, done ? SlotState::kDone : SlotState::kFailed, {}, now);
}
