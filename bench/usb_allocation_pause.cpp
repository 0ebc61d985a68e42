// The in-process libusb is the emulated device, not the program: allocations
// it makes (the device's report queue, its record of every frame) are not
// counted. The benchmark links with --wrap for these two calls, so the link's
// calls land here first.
#include <usb.h>

#include "bench/counting_allocator.h"

extern "C" {

int __real_usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);
int __real_usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);

int __wrap_usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
  const bench::AllocationPause pause;
  return __real_usb_bulk_write(dev, ep, bytes, size, timeout);
}

int __wrap_usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
  const bench::AllocationPause pause;
  return __real_usb_interrupt_read(dev, ep, bytes, size, timeout);
}

}  // extern "C"
