// The emulated device behind this process's libusb 0.1 functions (usb_init,
// usb_find_busses, ..., usb_bulk_write, usb_interrupt_read): a program linked
// with tamsolt_sim_usb instead of Debian's libusb runs the unmodified link
// against the model on a virtual clock. A read that gets no report advances the
// clock by its whole time-out, as the real one would block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/virtual_clock.h"

namespace sim {

// Serves model on clock from now on; a null model leaves the bus without the
// device (a null clock: an internal one). Resets the recorded calls and closes
// every handle.
//
// The bus list, rebuilt at each usb_find_devices: bus 001 holds the device (and,
// with Faults::twoDevices, a second matching one "001/002" before it, which
// takes frames but never answers), then "001/004", same vendor and another
// product; bus 002 holds a root hub and "002/005", the same product id under
// another vendor. The served device is "001/003".
void InstallInProcessDevice(DeviceModel* model, VirtualClock* clock);

// Serves model from now on without touching the bus or the open handles: to
// the host the same device stays plugged in, with a fresh state and new
// faults (a soak runs batch after batch on one link). Clears the recorded
// frames; the handle counts stay.
void ReplaceInProcessModel(DeviceModel* model);

// Every libusb call the process made since the last install, for tests.
struct UsbCalls {
  int init = 0, findBusses = 0, findDevices = 0, getBusses = 0;
  int open = 0, close = 0, setConfiguration = 0, claimInterface = 0, releaseInterface = 0;
  int bulkWrite = 0, interruptRead = 0;
  int otherCalls = 0;       // any other libusb function (all of them fail harmlessly)
  int badHandleCalls = 0;   // calls with a handle that is not open (closed twice, never opened)
  int openHandles = 0;      // handles opened and not yet closed
  std::string lastOpened;   // "bus/device" of the last usb_open, e.g. "001/003"
  int lastConfiguration = -1, lastInterface = -1;
  int lastWriteEndpoint = -1, lastWriteTimeout = -1;
  int lastReadEndpoint = -1, lastReadSize = -1, lastReadTimeout = -1;
  std::vector<std::vector<std::uint8_t>> framesWritten;  // every bulk write, as written
};
const UsbCalls& RecordedCalls();

}  // namespace sim
