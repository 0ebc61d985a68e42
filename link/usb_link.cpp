#include "link/usb_link.h"

#include <unistd.h>
#include <usb.h>

#include <cerrno>
#include <string>

#include "record/transfer_context.h"
#include "link/device_choice.h"
#include "link/operator_messages.h"

namespace {

void ShowLinkMessage(const char* text) {
  ShowOperatorMessage(text, ApplicationTitle(), MessageIcon::Warning);
}

bool g_openRefusedForPermission = false;

// libusb 0.1 hides why opening failed (it even falls back to a read-only
// handle, whose configuration and claim the kernel then refuses). Asking the
// node itself tells a missing udev rule apart from a busy or broken device.
bool NodeRefusesWriting(const struct usb_device* device) {
  if (device == nullptr || device->bus == nullptr) return false;
  const std::string node =
      std::string("/dev/bus/usb/") + device->bus->dirname + "/" + device->filename;
  return ::access(node.c_str(), W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

// A failed open step with its errno: the hint first when the cause is a
// permission refusal, so it is in the log while the box is up; the box text
// stays the same.
void ShowOpenFailure(const char* text, int error) {
  g_openRefusedForPermission =
      error == EACCES || error == EPERM || NodeRefusesWriting(g_transfer.foundDevice);
  if (g_openRefusedForPermission) ShowPermissionHint(kTextPermissionHint);
  ShowLinkMessage(text);
}

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
  g_openRefusedForPermission = false;
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
    ShowOpenFailure(kTextCouldNotOpen, g_transfer.foundDevice != nullptr ? errno : ENODEV);
    g_transfer.interfaceClaimed = 0;
    return false;
  }
  // libusb 0.1 hands back the failed ioctl's error as a negative errno.
  if (const int configured = usb_set_configuration(g_transfer.m_dev, kDeviceConfiguration);
      configured < 0) {
    ShowOpenFailure(kTextCouldNotSetConfiguration, -configured);
    usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
    g_transfer.interfaceClaimed = 0;
    return false;
  }
  if (const int claimed = usb_claim_interface(g_transfer.m_dev, kDeviceInterface); claimed < 0) {
    ShowOpenFailure(kTextInterfaceOccupied, -claimed);
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

bool LastOpenRefusedForPermission() { return g_openRefusedForPermission; }

void RegisterDeviceNotify(void* /*window*/) {}
