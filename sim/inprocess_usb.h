// The emulated device behind this process's libusb 0.1 functions (usb_init,
// usb_find_busses, ..., usb_bulk_write, usb_interrupt_read): a program linked
// with tamsolt_sim_usb instead of Debian's libusb runs the unmodified link
// against the model on a virtual clock. A read that gets no report advances the
// clock by its whole time-out, as the real one would block.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device_model.h"
#include "sim/virtual_clock.h"

namespace sim {

// Serves model on clock from now on; a null model leaves the bus empty.
// Resets the recorded calls.
void InstallInProcessDevice(DeviceModel* model, VirtualClock* clock);

// Every libusb call the process made since the last install, for tests.
struct UsbCalls {
  int init = 0, findBusses = 0, findDevices = 0, getBusses = 0;
  int open = 0, close = 0, setConfiguration = 0, claimInterface = 0, releaseInterface = 0;
  int bulkWrite = 0, interruptRead = 0;
  int lastConfiguration = -1, lastInterface = -1;
  int lastWriteEndpoint = -1, lastWriteTimeout = -1;
  int lastReadEndpoint = -1, lastReadSize = -1, lastReadTimeout = -1;
  std::vector<std::vector<std::uint8_t>> framesWritten;  // every bulk write, as written
};
const UsbCalls& RecordedCalls();

}  // namespace sim
