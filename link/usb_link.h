// The USB device link: finds the device on the busses, opens it for exclusive
// use and closes it again, through the libusb 0.1 interface. The link state
// lives in g_transfer (m_dev, deviceFound, interfaceClaimed, foundDevice). Every
// failure has already been shown to the operator when a function returns.
#pragma once

#include <cstddef>
#include <cstdint>

// Identity of the device and what the link uses of it.
inline constexpr std::uint16_t kDeviceVendorId = 0x1206;
inline constexpr std::uint16_t kDeviceProductId = 0x0227;
inline constexpr int kDeviceConfiguration = 1;
inline constexpr int kDeviceInterface = 0;
inline constexpr int kCommandEndpointOut = 0x02;  // bulk, command frames
inline constexpr int kReplyEndpointIn = 0x81;     // interrupt, 64-byte reports
inline constexpr int kBulkWriteTimeoutMs = 10;
inline constexpr int kInterruptReadTimeoutMs = 20;
inline constexpr std::size_t kReplyReadSize = 64;

// The link's fixed operator texts (not from the message table).
inline constexpr const char* kTextDeviceNotFound = "Device NOT found!";
inline constexpr const char* kTextCouldNotOpen = "Could not open m_dev\n";
inline constexpr const char* kTextCouldNotSetConfiguration = "Could not set configuration\n";
inline constexpr const char* kTextInterfaceOccupied =
    "USB device interface is occupied by other software, please check it!\n";
// Beside the box when opening failed because this user may not write the
// device node: the boxes above blame the device or other software.
inline constexpr const char* kTextPermissionHint =
    "No write permission on the USB device node: install the udev rule "
    "/lib/udev/rules.d/60-tamsolt.rules (part of the package), then plug the device in again.";

// Scans every bus; the last matching device (among those ChooseDevice allows,
// link/device_choice.h) in bus-then-device order is kept in
// foundDevice. False (after telling the operator) when none matches.
bool FindDevice();
// Opens foundDevice, sets configuration 1 and claims interface 0, unless the
// link is open already. False (after telling the operator) with the link closed.
bool OpenDevice();
// Whether the last OpenDevice failed because this user may not write the
// device node (the step's EACCES or EPERM, or the node's own permissions);
// false after a successful open.
bool LastOpenRefusedForPermission();
// Releases and closes an open handle; always leaves the link closed.
void CloseDevice();
// Registration for device arrival and removal. Nothing reacts to those events,
// so on Linux there is nothing to register; window may be null.
void RegisterDeviceNotify(void* window = nullptr);
