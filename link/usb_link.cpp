#include "link/usb_link.h"

#include <usb.h>

#include <cerrno>

#include "engine/transfer_context.h"
#include "link/device_choice.h"
#include "link/operator_messages.h"

namespace {

void ShowLinkMessage(const char* text) {
  ShowOperatorMessage(text, ApplicationTitle(), MessageIcon::Warning);
}

int g_openError = 0;

}  // namespace

bool FindDevice() {
  g_transfer.foundDevice = nullptr;
  // Negative results mean no USB file system (no device); the walk below then finds nothing.
  usb_init();
  usb_find_busses();
  usb_find_devices();
  for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      // The last eligible match wins.
      if (IsVx742(*device) && IsChosenDevice(*device)) g_transfer.foundDevice = device;
    }
  }
  if (g_transfer.foundDevice == nullptr) {
    ShowLinkMessage(kTextDeviceNotFound);
    g_transfer.deviceFound = 0;
    return false;
  }
  g_transfer.deviceFound = 1;
  return true;
}

bool OpenDevice() {
  if (g_transfer.interfaceClaimed != 0) return true;
  g_openError = 0;
  // A handle may be left from a link that a failed search gave up: it still
  // holds interface 0, so it is released before the device is opened again.
  if (g_transfer.m_dev != nullptr) {
    usb_release_interface(g_transfer.m_dev, kDeviceInterface);
    usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
  }
  g_transfer.m_dev =
      g_transfer.foundDevice != nullptr ? usb_open(g_transfer.foundDevice) : nullptr;
  if (g_transfer.m_dev == nullptr) {
    g_openError = g_transfer.foundDevice != nullptr ? errno : ENODEV;
    ShowLinkMessage(kTextCouldNotOpen);
    g_transfer.interfaceClaimed = 0;
    return false;
  }
  // libusb 0.1 hands back the failed ioctl's error as a negative errno.
  if (const int configured = usb_set_configuration(g_transfer.m_dev, kDeviceConfiguration);
      configured < 0) {
    g_openError = -configured;
    ShowLinkMessage(kTextCouldNotSetConfiguration);
    usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
    g_transfer.interfaceClaimed = 0;
    return false;
  }
  if (const int claimed = usb_claim_interface(g_transfer.m_dev, kDeviceInterface); claimed < 0) {
    g_openError = -claimed;
    ShowLinkMessage(kTextInterfaceOccupied);
    CloseDevice();
    return false;
  }
  g_transfer.interfaceClaimed = 1;
  return true;
}

void CloseDevice() {
  if (g_transfer.m_dev != nullptr) {
    usb_release_interface(g_transfer.m_dev, kDeviceInterface);
    usb_close(g_transfer.m_dev);
  }
  g_transfer.deviceFound = 0;
  g_transfer.interfaceClaimed = 0;
  g_transfer.m_dev = nullptr;
}

int LastOpenError() { return g_openError; }

void RegisterDeviceNotify(void* /*window*/) {}
