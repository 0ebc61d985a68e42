// --all: which boards on the bus the run writes or has written, and which
// came too late to be written. Each child's port is a slot (supervisor/slot_book.h)
// from the child's start: a board on it while the child runs is the child's,
// also across a restart; once the child has ended, the slot's rule tells a
// board that rebooted after its own end exchange (it left before or as its
// outcome came, and is back within the re-arm time) from a new one. A board
// anywhere else, or in a slot free again, came too late.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "link/usb_port.h"
#include "supervisor/slot_book.h"

class AllRunSlots {
 public:
  using Clock = SlotBook::Clock;

  // written: the devices the run starts a child for.
  AllRunSlots(Clock::duration rearmAfter, std::vector<DeviceAddress> written);

  // A child starts writing the board at port (none: the board has no slot).
  void Started(const std::string& port, const std::string& device, Clock::time_point now);
  // One look at the bus; the boards it finds late that no look named before.
  // last: the run's closing look, which names a board whose port it cannot
  // read as well (before it, such a board is arriving and a later look names it).
  std::vector<PortedDevice> Look(const std::vector<PortedDevice>& bus, Clock::time_point now,
                                 bool last);
  // A board on the bus the run does not know yet, whose port cannot be read.
  bool Unplaced(const std::vector<PortedDevice>& bus) const;
  // The child of port ended (after a look); done: its board was written.
  void Ended(const std::string& port, bool done, Clock::time_point now);

  const std::vector<DeviceAddress>& Late() const { return late_; }

 private:
  bool Known(const DeviceAddress& device) const;

  SlotBook book_;
  std::vector<DeviceAddress> written_;
  std::vector<DeviceAddress> late_;
};
