#include "sim/umockdev_bus.h"

#include <glib/gstdio.h>
#include <umockdev.h>

#include <algorithm>

#include "sim/umockdev_usbfs.h"

namespace sim {

namespace {

std::string TakeMessage(GError* error) {
  std::string message = error != nullptr ? error->message : "unknown error";
  if (error != nullptr) g_error_free(error);
  return message;
}

std::vector<std::string> EntriesInReaddirOrder(const std::string& folder) {
  std::vector<std::string> names;
  GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
  if (dir == nullptr) return names;
  while (const gchar* name = g_dir_read_name(dir)) names.emplace_back(name);
  g_dir_close(dir);
  return names;
}

std::string DevnumName(int devnum) {
  const std::string node = DeviceNodeName(kEmulatedBus, devnum);
  return node.substr(node.rfind('/') + 1);
}

}  // namespace

std::string NodeUsedByLink(const std::vector<std::string>& readdirOrder,
                           const std::vector<std::string>& matchingNames) {
  std::string used;
  for (const std::string& entry : readdirOrder) {
    if (std::find(matchingNames.begin(), matchingNames.end(), entry) != matchingNames.end()) {
      used = entry;
    }
  }
  return used;
}

EmulatedBus::EmulatedBus(std::vector<std::shared_ptr<SharedDevice>> devices,
                         const std::vector<std::string>& ports, bool usbFileSystem)
    : testbed_(umockdev_testbed_new()), usbFileSystem_(usbFileSystem) {
  for (std::size_t k = 0; k < devices.size(); ++k) {
    slots_.push_back(Slot{std::move(devices[k]), ports.at(k), {}, {}});
  }
  if (usbFileSystem_) {
    // The root hub keeps the bus folder in place while no VX742 is listed; it
    // needs no handler (its ioctls fail as on a plain file).
    umockdev_testbed_add_from_string(
        testbed_, DeviceDescription(kEmulatedBus, kRootHubDevnum, "", RootHubIdentity()).c_str(),
        nullptr);
  } else {
    // An empty /dev/bus/usb keeps the scan inside the testbed and finds no bus.
    g_mkdir_with_parents((RootDir() + "/dev/bus/usb").c_str(), 0755);
  }
}

EmulatedBus::~EmulatedBus() {
  for (const Slot& slot : slots_) {
    for (const Node& node : slot.nodes) Detach(node);
    for (const Node& node : slot.retired) Detach(node);
  }
  g_object_unref(testbed_);
}

std::string EmulatedBus::RootDir() const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string result = root;
  g_free(root);
  return result;
}

bool EmulatedBus::Sync(std::string& error) {
  bool ok = true;
  for (Slot& slot : slots_) ok = SyncSlot(slot, error) && ok;
  return ok;
}

bool EmulatedBus::SyncSlot(Slot& slot, std::string& error) {
  const int listed = usbFileSystem_ ? slot.device->With([](DeviceState& state, Micros now) {
    return now < state.model.GetFaults().arriveAfter ? 0 : state.model.ListedDevices(now);
  })
                                    : 0;
  ApplyLateRule(slot);
  if (static_cast<int>(slot.nodes.size()) == listed) return true;
  bool ok = true;
  while (ok && static_cast<int>(slot.nodes.size()) < listed) {
    if (PortTaken(slot, slot.nodes.empty() ? slot.port : NeighbourPortPath(slot.port))) break;
    ok = AddNode(slot, error);
  }
  while (static_cast<int>(slot.nodes.size()) > listed) RemoveNode(slot);
  ChooseSilentNode(slot);
  return ok;
}

bool EmulatedBus::PortTaken(const Slot& slot, const std::string& port) const {
  for (const Slot& other : slots_) {
    if (&other == &slot) continue;
    for (const Node& node : other.nodes) {
      if (node.port == port) return true;
    }
  }
  return false;
}

bool EmulatedBus::AddNode(Slot& slot, std::string& error) {
  const int devnum = nextDevnum_++;
  const std::string path = DeviceNodePath(kEmulatedBus, devnum);
  // The handler listens before the node appears: a scan that opens the node
  // at once must find someone to talk to.
  UMockdevIoctlBase* handler = NewUsbfsHandler(slot.device);
  GError* failure = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, path.c_str(), handler, &failure)) {
    error = "cannot serve " + path + ": " + TakeMessage(failure);
    g_object_unref(handler);
    return false;
  }
  Node node{devnum, slot.nodes.empty() ? slot.port : NeighbourPortPath(slot.port), handler, -1};
  // Decided before the node appears, so that no handle opened at once escapes it.
  const bool unwritable = slot.device->With([&](DeviceState& state, Micros now) {
    const Faults& faults = state.model.GetFaults();
    if (faults.unwritableFor > 0) node.writableAt = state.writableAt[path] = now + faults.unwritableFor;
    return faults.unwritableNode || faults.unwritableFor > 0;
  });
  const std::string description =
      DeviceDescription(kEmulatedBus, devnum, node.port, Vx742Identity());
  if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &failure)) {
    error = "cannot add the device: " + TakeMessage(failure);
    Detach(node);
    return false;
  }
  if (unwritable) {
    // An ordinary user sees the mode; the handler refuses the handle's
    // requests for any user, root included, so tests as root see it too.
    GStatBuf status;
    if (g_stat((RootDir() + path).c_str(), &status) == 0) node.writableMode = status.st_mode & 07777;
    g_chmod((RootDir() + path).c_str(), 0444);
  }
  slot.nodes.push_back(node);
  return true;
}

void EmulatedBus::ApplyLateRule(Slot& slot) {
  const Micros now = slot.device->With([](DeviceState&, Micros now) { return now; });
  for (Node& node : slot.nodes) {
    if (node.writableAt < 0 || now < node.writableAt) continue;
    g_chmod((RootDir() + DeviceNodePath(kEmulatedBus, node.devnum)).c_str(), node.writableMode);
    node.writableAt = -1;
  }
}

void EmulatedBus::RemoveNode(Slot& slot) {
  const Node node = slot.nodes.back();
  slot.nodes.pop_back();
  umockdev_testbed_remove_device(testbed_, DeviceSysfsPath(kEmulatedBus, node.port).c_str());
  // The testbed keeps a node that has content; the scan must not find it.
  g_unlink((RootDir() + DeviceNodePath(kEmulatedBus, node.devnum)).c_str());
  // The handler stays attached: a scan may have opened the node just before,
  // and a handle opened earlier stays in use (see DeviceState).
  slot.retired.push_back(node);
}

void EmulatedBus::Detach(const Node& node) {
  umockdev_testbed_detach_ioctl(testbed_, DeviceNodePath(kEmulatedBus, node.devnum).c_str(),
                                nullptr);
  g_object_unref(node.handler);
}

void EmulatedBus::ChooseSilentNode(Slot& slot) {
  std::vector<std::string> matching;
  for (const Node& node : slot.nodes) matching.push_back(DevnumName(node.devnum));
  const std::string busFolder = "/dev/" + BusDirectoryName(kEmulatedBus);
  std::string silent;
  if (matching.size() > 1) {
    const std::string used =
        NodeUsedByLink(EntriesInReaddirOrder(RootDir() + busFolder), matching);
    silent = busFolder + "/" + (matching.front() == used ? matching.back() : matching.front());
  }
  slot.device->With([&](DeviceState& state, Micros) {
    state.silentNode = silent;
    return 0;
  });
}

}  // namespace sim
