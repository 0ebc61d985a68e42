#include "sim/umockdev_ioctl_handler.h"

#include <sys/ioctl.h>  // first: the usbfs header builds its request numbers with _IO*
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim/umockdev_urbs.h"

namespace sim {

namespace {

constexpr char kDeviceKey[] = "tamsolt-shared-device";
constexpr char kNodeKey[] = "tamsolt-open-node";

// What the program does with one open node. libusb's scan opens every node
// for the connect info and the descriptors; usb_open opens it again for a
// handle that configures, claims and moves URBs.
enum class NodeUse { Unknown, Scan, Handle, Refused, Denied, Closed };

struct OpenNode {
  std::shared_ptr<SharedDevice> device;
  std::string path;  // "/dev/bus/usb/001/002"
  int devnum = 0;
  NodeUse use = NodeUse::Unknown;
  UrbQueue urbs;
};

// What one ioctl sees of the device: the model (null on the silent node of
// the two-devices fault), and whether the device is on the bus.
struct DeviceView {
  DeviceModel* model;
  bool present;
  Micros now;
};

// A block of the program's memory made local by umockdev; changes go back to
// the program when the ioctl completes.
class ClientMemory {
 public:
  ClientMemory(UMockdevIoctlData* parent, std::size_t offset, std::size_t length) {
    if (parent == nullptr || length == 0) return;
    GError* error = nullptr;
    data_ = umockdev_ioctl_data_resolve(parent, offset, length, &error);
    if (error != nullptr) g_error_free(error);
  }
  ~ClientMemory() {
    if (data_ != nullptr) g_object_unref(data_);
  }
  ClientMemory(const ClientMemory&) = delete;
  ClientMemory& operator=(const ClientMemory&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  UMockdevIoctlData* get() const { return data_; }
  std::uint8_t* bytes() const { return data_->data; }
  std::uint64_t clientAddress() const { return data_->client_addr; }

 private:
  UMockdevIoctlData* data_ = nullptr;
};

DeviceModel::HandleId HandleIdOf(const OpenNode& node) {
  return reinterpret_cast<DeviceModel::HandleId>(&node);
}

int DevnumOfNode(const char* devnode) {
  const char* slash = devnode != nullptr ? std::strrchr(devnode, '/') : nullptr;
  return slash != nullptr ? std::atoi(slash + 1) : 0;
}

// The pointer value an ioctl was called with, before anything is resolved.
std::uint64_t ArgumentValue(UMockdevIoctlData* arg) {
  std::uint64_t value = 0;
  std::memcpy(&value, arg->data, sizeof value);
  return value;
}

template <typename T>
bool ReadArgument(UMockdevIoctlData* arg, T& value) {
  ClientMemory memory(arg, 0, sizeof(T));
  if (!memory) return false;
  std::memcpy(&value, memory.bytes(), sizeof(T));
  return true;
}

int ConnectInfo(const OpenNode& node, UMockdevIoctlData* arg) {
  ClientMemory memory(arg, 0, sizeof(usbdevfs_connectinfo));
  if (!memory) return -EFAULT;
  usbdevfs_connectinfo info{};
  info.devnum = static_cast<unsigned int>(node.devnum);
  info.slow = 0;
  std::memcpy(memory.bytes(), &info, sizeof info);
  return 0;
}

int SubmitUrb(OpenNode& node, UMockdevIoctlData* arg, const DeviceView& device) {
  ClientMemory urbMemory(arg, 0, sizeof(usbdevfs_urb));
  if (!urbMemory) return -EFAULT;
  usbdevfs_urb urb;
  std::memcpy(&urb, urbMemory.bytes(), sizeof urb);
  const std::uint64_t address = urbMemory.clientAddress();
  // usbfs claims the endpoint's interface for a handle that has not: under
  // another handle's claim the URB is refused.
  if (device.model != nullptr && !device.model->ClaimInterface(0, HandleIdOf(node))) return -EBUSY;
  if ((urb.endpoint & 0x80) != 0) {
    return node.urbs.SubmitIn(device.present, address, urb.endpoint, urb.buffer_length);
  }
  ClientMemory frame(urbMemory.get(), offsetof(usbdevfs_urb, buffer),
                     static_cast<std::size_t>(urb.buffer_length));
  if (urb.buffer_length > 0 && !frame) return -EFAULT;
  return node.urbs.SubmitOut(device.model, device.present, address, urb.endpoint,
                             frame ? frame.bytes() : nullptr,
                             frame ? static_cast<std::size_t>(urb.buffer_length) : 0, device.now);
}

// Hands a completed URB back the way usbfs does: the program's URB gets its
// status and length (and an IN URB its data), and the pointer the program
// passed to the reap is set to that URB, the one it submitted.
int ReturnReapedUrb(UMockdevIoctlData* arg, const ReapedUrb& reaped) {
  ClientMemory slot(arg, 0, sizeof(void*));
  if (!slot) return -EFAULT;
  std::memcpy(slot.bytes(), &reaped.clientAddress, sizeof reaped.clientAddress);
  ClientMemory urbMemory(slot.get(), 0, sizeof(usbdevfs_urb));
  if (!urbMemory) return -EFAULT;
  usbdevfs_urb urb;
  std::memcpy(&urb, urbMemory.bytes(), sizeof urb);
  urb.status = reaped.status;
  urb.actual_length = reaped.actualLength;
  std::memcpy(urbMemory.bytes(), &urb, sizeof urb);
  if ((reaped.endpoint & 0x80) != 0 && reaped.actualLength > 0) {
    ClientMemory buffer(urbMemory.get(), offsetof(usbdevfs_urb, buffer),
                        static_cast<std::size_t>(reaped.actualLength));
    if (!buffer) return -EFAULT;
    std::memcpy(buffer.bytes(), reaped.data.data(), static_cast<std::size_t>(reaped.actualLength));
  }
  return 0;
}

int ServeHandle(OpenNode& node, unsigned long request, UMockdevIoctlData* arg,
                const DeviceView& device) {
  const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY ||
                       request == USBDEVFS_DISCARDURB;
  // A handle on a device that has left the bus fails everything but handing
  // back what had completed.
  if (!reaping && !device.present) return -ENODEV;

  switch (request) {
    case USBDEVFS_SETCONFIGURATION: {
      int value = 0;
      if (!ReadArgument(arg, value)) return -EFAULT;
      // usbfs leaves the configuration alone while another handle holds an interface.
      return device.model == nullptr || (device.model->InterfaceFreeFor(HandleIdOf(node)) &&
                                         device.model->SetConfiguration(value))
                 ? 0
                 : -EBUSY;
    }
    case USBDEVFS_CLAIMINTERFACE: {
      unsigned int number = 0;
      if (!ReadArgument(arg, number)) return -EFAULT;
      return device.model == nullptr ||
                     device.model->ClaimInterface(static_cast<int>(number), HandleIdOf(node))
                 ? 0
                 : -EBUSY;
    }
    case USBDEVFS_RELEASEINTERFACE: {
      unsigned int number = 0;
      if (!ReadArgument(arg, number)) return -EFAULT;
      return device.model == nullptr ||
                     device.model->ReleaseInterface(static_cast<int>(number), HandleIdOf(node))
                 ? 0
                 : -EINVAL;
    }
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(node, arg, device);
    case USBDEVFS_DISCARDURB:
      return node.urbs.Discard(ArgumentValue(arg));
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      // The blocking reap only follows a discard, so something has completed;
      // it never waits here (the worker thread must not block).
      ReapedUrb reaped;
      const int result = node.urbs.Reap(device.model, device.present, device.now, reaped);
      return result == 0 ? ReturnReapedUrb(arg, reaped) : result;
    }
    case USBDEVFS_CONNECTINFO:
      return ConnectInfo(node, arg);
    default:
      return -ENOTTY;
  }
}

int Serve(OpenNode& node, unsigned long request, UMockdevIoctlData* arg, DeviceState& state,
          Micros now) {
  const DeviceView device{node.path != state.silentNode ? &state.model : nullptr,
                          state.model.Present(now), now};
  if (node.use == NodeUse::Unknown || node.use == NodeUse::Scan) {
    if (request == USBDEVFS_CONNECTINFO) {
      node.use = NodeUse::Scan;
      return ConnectInfo(node, arg);
    }
    if (request == USBDEVFS_IOCTL) {
      // The scan asks each device whether it is a hub; this one has no driver to ask.
      node.use = NodeUse::Scan;
      return -ENOSYS;
    }
    // Anything else comes from a handle of usb_open: the device decides now
    // whether it can be opened. Debian's libusb 0.1 ignores a failed open(),
    // so a refused handle shows up as a bad file descriptor on its first ioctl.
    // A node the program may not write is opened read-only by libusb, and
    // usbfs refuses every request on such a handle with EPERM.
    const auto writable = state.writableAt.find(node.path);
    if (state.model.GetFaults().unwritableNode ||
        (writable != state.writableAt.end() && now < writable->second)) {
      node.use = NodeUse::Denied;
    } else {
      const bool opened = device.model != nullptr ? device.model->Open(now) : device.present;
      node.use = opened ? NodeUse::Handle : NodeUse::Refused;
    }
  }
  if (node.use == NodeUse::Denied) return -EPERM;
  if (node.use != NodeUse::Handle) return -EBADF;
  return ServeHandle(node, request, arg, device);
}

void OnConnectedChanged(GObject* client, GParamSpec*, gpointer) {
  if (umockdev_ioctl_client_get_connected(UMOCKDEV_IOCTL_CLIENT(client))) return;
  auto* node = static_cast<OpenNode*>(g_object_get_data(client, kNodeKey));
  if (node == nullptr) return;
  node->device->With([node](DeviceState& state, Micros) {
    // usb_close, or the program ended: the kernel releases what the file held.
    if (node->use == NodeUse::Handle && node->path != state.silentNode) {
      state.model.Close(HandleIdOf(*node));
    }
    node->use = NodeUse::Closed;
    return 0;
  });
}

OpenNode& NodeOf(UMockdevIoctlBase* handler, UMockdevIoctlClient* client) {
  auto* node = static_cast<OpenNode*>(g_object_get_data(G_OBJECT(client), kNodeKey));
  if (node != nullptr) return *node;
  auto* device =
      static_cast<std::shared_ptr<SharedDevice>*>(g_object_get_data(G_OBJECT(handler), kDeviceKey));
  node = new OpenNode;
  node->device = *device;
  const char* devnode = umockdev_ioctl_client_get_devnode(client);
  node->path = devnode != nullptr ? devnode : "";
  node->devnum = DevnumOfNode(devnode);
  g_object_set_data_full(G_OBJECT(client), kNodeKey, node,
                         [](gpointer data) { delete static_cast<OpenNode*>(data); });
  g_signal_connect(client, "notify::connected", G_CALLBACK(OnConnectedChanged), nullptr);
  return *node;
}

gboolean OnHandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer) {
  OpenNode& node = NodeOf(handler, client);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const int result = node.device->With(
      [&](DeviceState& state, Micros now) { return Serve(node, request, arg, state, now); });
  if (result < 0) {
    umockdev_ioctl_client_complete(client, -1, -result);
  } else {
    umockdev_ioctl_client_complete(client, result, 0);
  }
  return TRUE;
}

}  // namespace

UMockdevIoctlBase* NewUsbfsHandler(std::shared_ptr<SharedDevice> device) {
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_object_set_data_full(G_OBJECT(handler), kDeviceKey,
                         new std::shared_ptr<SharedDevice>(std::move(device)), [](gpointer data) {
                           delete static_cast<std::shared_ptr<SharedDevice>*>(data);
                         });
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnHandleIoctl), nullptr);
  return handler;
}

}  // namespace sim
