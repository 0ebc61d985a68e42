// libusb 0.1 served in-process by the emulated device (inprocess_usb.h). The
// bus, device and descriptor records are static, so a usb_device pointer kept
// from an earlier scan never dangles; a scan only re-links them.
#include "sim/inprocess_usb.h"

#include <usb.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

// An open handle: which device it was opened on. A fixed pool of them, so a
// stale or doubly closed handle is caught, not freed twice.
struct usb_dev_handle {
  struct usb_device* device = nullptr;
  bool open = false;
};

usb_bus* usb_busses = nullptr;

namespace {

constexpr std::uint16_t kDeviceVendor = 0x1206;
constexpr std::uint16_t kDeviceProduct = 0x0227;
constexpr int kCommandEndpoint = 0x02;
constexpr int kReplyEndpoint = 0x81;
constexpr int kReportSize = 64;

struct Descriptors {
  std::array<usb_endpoint_descriptor, 2> endpoints{};
  usb_interface_descriptor interfaceSetting{};
  usb_interface interface{};
  usb_config_descriptor config{};
};

struct BusWorld {
  Descriptors descriptors;
  std::array<usb_bus, 2> busses{};
  struct usb_device decoy{}, served{}, sibling{}, hub{}, lookalike{};
  std::array<usb_dev_handle, 8> handles{};
  std::size_t nextHandle = 0;
  sim::DeviceModel* model = nullptr;
  sim::VirtualClock* clock = nullptr;
  sim::VirtualClock ownClock;
  sim::UsbCalls calls;
  int listedDevices = 0;

  BusWorld() {
    Describe();
    Place(decoy, busses[0], 2, kDeviceVendor, kDeviceProduct);
    Place(served, busses[0], 3, kDeviceVendor, kDeviceProduct);
    Place(sibling, busses[0], 4, kDeviceVendor, kDeviceProduct + 1);
    Place(hub, busses[1], 1, 0x1D6B, 0x0002);
    Place(lookalike, busses[1], 5, kDeviceVendor + 1, kDeviceProduct);
    for (std::size_t i = 0; i < busses.size(); ++i) {
      std::snprintf(busses[i].dirname, sizeof busses[i].dirname, "%03zu", i + 1);
      busses[i].location = static_cast<std::uint32_t>(i + 1);
    }
    busses[1].root_dev = &hub;
  }

  void Describe() {
    auto& [out, in] = descriptors.endpoints;
    out = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kCommandEndpoint, USB_ENDPOINT_TYPE_BULK, 64, 0, 0, 0,
           nullptr, 0};
    in = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kReplyEndpoint, USB_ENDPOINT_TYPE_INTERRUPT, 64, 1, 0,
          0, nullptr, 0};
    descriptors.interfaceSetting = {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2,
                                    USB_CLASS_VENDOR_SPEC, 0, 0, 0, descriptors.endpoints.data(),
                                    nullptr, 0};
    descriptors.interface = {&descriptors.interfaceSetting, 1};
    descriptors.config = {USB_DT_CONFIG_SIZE, USB_DT_CONFIG,
                          USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE + 2 * USB_DT_ENDPOINT_SIZE,
                          1, 1, 0, 0x80, 50, &descriptors.interface, nullptr, 0};
  }

  void Place(struct usb_device& device, usb_bus& bus, std::uint8_t number, std::uint16_t vendor,
             std::uint16_t product) {
    std::snprintf(device.filename, sizeof device.filename, "%03u", number);
    device.bus = &bus;
    device.devnum = number;
    device.descriptor = {USB_DT_DEVICE_SIZE, USB_DT_DEVICE, 0x0200, 0, 0, 0, 64, vendor, product,
                         0x0100, 1, 2, 0, 1};
    device.config = &descriptors.config;
  }

  sim::VirtualClock& Clock() { return clock != nullptr ? *clock : ownClock; }
  bool NoBusses() const { return model != nullptr && model->GetFaults().noBusses; }

  // Links the devices listed now into their busses; returns how many changed.
  int Relink() {
    const int listed = model != nullptr ? model->ListedDevices(Clock().Now()) : 0;
    const int changes = listed > listedDevices ? listed - listedDevices : listedDevices - listed;
    listedDevices = listed;
    std::array<struct usb_device*, 3> firstBus{};
    std::size_t count = 0;
    if (listed >= 2) firstBus[count++] = &decoy;
    if (listed >= 1) firstBus[count++] = &served;
    firstBus[count++] = &sibling;
    Chain(busses[0], firstBus.data(), count);
    std::array<struct usb_device*, 2> secondBus{&hub, &lookalike};
    Chain(busses[1], secondBus.data(), secondBus.size());
    return changes;
  }

  static void Chain(usb_bus& bus, struct usb_device* const* devices, std::size_t count) {
    bus.devices = count > 0 ? devices[0] : nullptr;
    for (std::size_t i = 0; i < count; ++i) {
      devices[i]->prev = i > 0 ? devices[i - 1] : nullptr;
      devices[i]->next = i + 1 < count ? devices[i + 1] : nullptr;
    }
  }

  bool Listed(const struct usb_device* device) const {
    for (const usb_bus& bus : busses) {
      for (const struct usb_device* d = bus.devices; d != nullptr; d = d->next) {
        if (d == device) return true;
      }
    }
    return false;
  }

  usb_dev_handle* NewHandle(struct usb_device* device) {
    for (std::size_t tried = 0; tried < handles.size(); ++tried) {
      usb_dev_handle& handle = handles[nextHandle];
      nextHandle = (nextHandle + 1) % handles.size();
      if (!handle.open) {
        handle = {device, true};
        ++calls.openHandles;
        return &handle;
      }
    }
    return nullptr;
  }

  // The handle when it is one of ours and open; counts a misuse otherwise.
  usb_dev_handle* Checked(usb_dev_handle* handle) {
    for (usb_dev_handle& h : handles) {
      if (&h == handle && h.open) return handle;
    }
    ++calls.badHandleCalls;
    return nullptr;
  }

  bool Served(const usb_dev_handle* handle) const {
    return model != nullptr && handle->device == &served;
  }
};

BusWorld& World() {
  static BusWorld world;
  return world;
}

// Claims belong to the handle that made them.
sim::DeviceModel::HandleId HandleIdOf(const usb_dev_handle* handle) {
  return reinterpret_cast<sim::DeviceModel::HandleId>(handle);
}

int Unsupported() {
  ++World().calls.otherCalls;
  return -ENOSYS;
}

}  // namespace

namespace sim {

void InstallInProcessDevice(DeviceModel* model, VirtualClock* clock) {
  BusWorld& world = World();
  world.model = model;
  world.clock = clock;
  world.calls = UsbCalls{};
  world.listedDevices = 0;
  for (usb_dev_handle& handle : world.handles) handle = usb_dev_handle{};
  usb_busses = nullptr;
  for (usb_bus& bus : world.busses) bus.devices = nullptr;
}

void ReplaceInProcessModel(DeviceModel* model) {
  BusWorld& world = World();
  world.model = model;
  world.calls.framesWritten.clear();
  world.calls.framesWritten.shrink_to_fit();
}

const UsbCalls& RecordedCalls() { return World().calls; }

}  // namespace sim

extern "C" {

void usb_init(void) { ++World().calls.init; }

void usb_set_debug(int) { ++World().calls.otherCalls; }

int usb_find_busses(void) {
  BusWorld& world = World();
  ++world.calls.findBusses;
  if (world.NoBusses()) {
    usb_busses = nullptr;
    return -ENOENT;
  }
  const int added = usb_busses == nullptr ? static_cast<int>(world.busses.size()) : 0;
  world.busses[0].prev = nullptr;
  world.busses[0].next = &world.busses[1];
  world.busses[1].prev = &world.busses[0];
  world.busses[1].next = nullptr;
  usb_busses = &world.busses[0];
  return added;
}

int usb_find_devices(void) {
  BusWorld& world = World();
  ++world.calls.findDevices;
  if (world.NoBusses() || usb_busses == nullptr) return -ENOENT;
  return world.Relink();
}

usb_bus* usb_get_busses(void) {
  ++World().calls.getBusses;
  return usb_busses;
}

usb_dev_handle* usb_open(struct usb_device* dev) {
  BusWorld& world = World();
  ++world.calls.open;
  if (dev == nullptr || !world.Listed(dev)) return nullptr;
  world.calls.lastOpened = std::string(dev->bus->dirname) + "/" + dev->filename;
  if (dev == &world.served && !world.model->Open(world.Clock().Now())) return nullptr;
  return world.NewHandle(dev);
}

int usb_close(usb_dev_handle* dev) {
  BusWorld& world = World();
  ++world.calls.close;
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (world.Served(handle)) world.model->Close(HandleIdOf(handle));
  handle->open = false;
  --world.calls.openHandles;
  return 0;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
  BusWorld& world = World();
  ++world.calls.setConfiguration;
  world.calls.lastConfiguration = configuration;
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (!world.Served(handle)) return 0;
  if (!world.model->Present(world.Clock().Now())) return -ENODEV;
  if (!world.model->InterfaceFreeFor(HandleIdOf(handle))) return -EBUSY;
  return world.model->SetConfiguration(configuration) ? 0 : -EPIPE;
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
  BusWorld& world = World();
  ++world.calls.claimInterface;
  world.calls.lastInterface = interface;
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (!world.Served(handle)) return 0;
  if (!world.model->Present(world.Clock().Now())) return -ENODEV;
  return world.model->ClaimInterface(interface, HandleIdOf(handle)) ? 0 : -EBUSY;
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
  BusWorld& world = World();
  ++world.calls.releaseInterface;
  world.calls.lastInterface = interface;
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (world.Served(handle) && !world.model->ReleaseInterface(interface, HandleIdOf(handle))) {
    return -EINVAL;
  }
  return 0;
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
  BusWorld& world = World();
  ++world.calls.bulkWrite;
  world.calls.lastWriteEndpoint = ep;
  world.calls.lastWriteTimeout = timeout;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes);
  if (data != nullptr && size > 0) world.calls.framesWritten.emplace_back(data, data + size);
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (data == nullptr || size < 0 || ep != kCommandEndpoint) return -EINVAL;
  if (!world.Served(handle)) return size;  // a device that never answers
  if (!world.model->ReceiveFrame(data, static_cast<std::size_t>(size), world.Clock().Now())) {
    return -ENODEV;
  }
  return size;
}

int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
  BusWorld& world = World();
  ++world.calls.interruptRead;
  world.calls.lastReadEndpoint = ep;
  world.calls.lastReadSize = size;
  world.calls.lastReadTimeout = timeout;
  usb_dev_handle* handle = world.Checked(dev);
  if (handle == nullptr) return -EBADF;
  if (bytes == nullptr || ep != kReplyEndpoint) return -EINVAL;
  sim::VirtualClock& clock = world.Clock();
  const sim::Micros deadline = clock.Now() + sim::Micros{timeout > 0 ? timeout : 0} * 1000;
  if (!world.Served(handle)) {
    clock.AdvanceTo(deadline);
    return -ETIMEDOUT;
  }
  if (!world.model->Present(clock.Now())) return -ENODEV;
  if (size < kReportSize) return -EOVERFLOW;
  // A time-out of 0 waits for ever on hardware; here it takes a queued report or gives up.
  const auto ready = world.model->NextReportTime();
  if (ready && (*ready <= deadline || timeout <= 0)) {
    clock.AdvanceTo(*ready);
    std::uint8_t report[kReportSize];
    if (!world.model->TakeReport(clock.Now(), report)) return -ENODEV;
    std::memcpy(bytes, report, kReportSize);
    return kReportSize;
  }
  clock.AdvanceTo(deadline);
  return -ETIMEDOUT;
}

struct usb_device* usb_device(usb_dev_handle* dev) {
  usb_dev_handle* handle = World().Checked(dev);
  return handle != nullptr ? handle->device : nullptr;
}

char* usb_strerror(void) {
  static char text[] = "emulated device: operation failed";
  return text;
}

int usb_get_string(usb_dev_handle*, int, int, char*, size_t) { return Unsupported(); }
int usb_get_string_simple(usb_dev_handle*, int, char*, size_t) { return Unsupported(); }
int usb_get_descriptor_by_endpoint(usb_dev_handle*, int, unsigned char, unsigned char, void*,
                                   int) {
  return Unsupported();
}
int usb_get_descriptor(usb_dev_handle*, unsigned char, unsigned char, void*, int) {
  return Unsupported();
}
int usb_bulk_read(usb_dev_handle*, int, char*, int, int) { return Unsupported(); }
int usb_interrupt_write(usb_dev_handle*, int, const char*, int, int) { return Unsupported(); }
int usb_control_msg(usb_dev_handle*, int, int, int, int, char*, int, int) { return Unsupported(); }
int usb_set_altinterface(usb_dev_handle*, int) { return Unsupported(); }
int usb_resetep(usb_dev_handle*, unsigned int) { return Unsupported(); }
int usb_clear_halt(usb_dev_handle*, unsigned int) { return Unsupported(); }
int usb_reset(usb_dev_handle*) { return Unsupported(); }
int usb_get_driver_np(usb_dev_handle*, int, char*, unsigned int) { return -ENODATA; }
int usb_detach_kernel_driver_np(usb_dev_handle*, int) { return -ENODATA; }

}  // extern "C"
