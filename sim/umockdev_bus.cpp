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

// The description without its node line: the node is made apart from it, so
// that the two can come and go at different times.
std::string WithoutNode(const std::string& description) {
  std::string result;
  std::size_t start = 0;
  while (start < description.size()) {
    const std::size_t end = description.find('\n', start);
    const std::size_t next = end == std::string::npos ? description.size() : end + 1;
    if (description.compare(start, 3, "N: ") != 0)
      result += description.substr(start, next - start);
    start = next;
  }
  return result;
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
                         const std::vector<std::string>& ports, bool usbFileSystem,
                         const std::vector<bool>& arrivesOnCommand)
    : testbed_(umockdev_testbed_new()), usbFileSystem_(usbFileSystem) {
  for (std::size_t k = 0; k < devices.size(); ++k) {
    const bool onCommand = k < arrivesOnCommand.size() && arrivesOnCommand[k];
    slots_.push_back(Slot{std::move(devices[k]), ports.at(k), {}, {}, onCommand, false});
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
  const bool waiting = slot.onCommand && !slot.plugged;
  const int listed = slot.device->With([&](DeviceState& state, Micros now) {
    // A board that has left for good drops its claim, whatever made it leave.
    if (!waiting && state.model.GoneForGood(now)) state.model.Unplug();
    if (!usbFileSystem_ || waiting || now < state.model.GetFaults().arriveAfter) return 0;
    return state.model.ListedDevices(now);
  });
  ApplyLateRule(slot);
  ApplySysfsLag(slot);
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

bool EmulatedBus::PlugOnCommand(const std::string& port, std::string& error) {
  for (Slot& slot : slots_) {
    if (!slot.onCommand || slot.port != port) continue;
    if (!slot.plugged) {
      slot.plugged = true;
      return Sync(error);
    }
    const bool gone = slot.device->With(
        [](DeviceState& state, Micros now) { return state.model.GoneForGood(now); });
    if (!gone) {
      error = "plug " + port + ": the board plugged there before is still on the bus";
      return false;
    }
  }
  error = "plug " + port + ": no board of --plug=" + port + ":cmd is left to plug in";
  return false;
}

bool EmulatedBus::UnplugNow(const std::string& port, std::string& error) {
  for (Slot& slot : slots_) {
    if (slot.port != port || (slot.onCommand && !slot.plugged)) continue;
    const bool unplugged = slot.device->With([](DeviceState& state, Micros now) {
      if (now < state.model.GetFaults().arriveAfter || state.model.GoneForGood(now)) return false;
      state.model.Unplug();
      return true;
    });
    if (unplugged) return Sync(error);
  }
  error = "unplug " + port + ": no board is on that port";
  return false;
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
    // (A node that never gets the rule, --unwritable-node, keeps its mode.)
    if (faults.unwritableFor > 0 && !faults.unwritableNode) {
      node.writableAt = state.writableAt[path] = now + faults.unwritableFor;
    }
    return faults.unwritableNode || faults.unwritableFor > 0;
  });
  const Micros lag = slot.device->With([&](DeviceState& state, Micros now) {
    const Micros sysfsLag = state.model.GetFaults().sysfsLag;
    if (sysfsLag > 0) node.sysfsAt = now + sysfsLag;
    return sysfsLag;
  });
  // The node, whose content is the descriptors, comes whole: it is written
  // beside the bus folder and moved in, so a scan never reads part of it.
  const std::vector<std::uint8_t> descriptors = Vx742Identity().descriptors;
  const std::string staged = RootDir() + "/.staged-node";
  if (!g_file_set_contents(staged.c_str(), reinterpret_cast<const gchar*>(descriptors.data()),
                           static_cast<gssize>(descriptors.size()), &failure)) {
    error = "cannot add the node " + path + ": " + TakeMessage(failure);
    Detach(node);
    return false;
  }
  if (unwritable) {
    // An ordinary user sees the mode; the handler refuses the handle's
    // requests for any user, root included, so tests as root see it too.
    GStatBuf status;
    if (g_stat(staged.c_str(), &status) == 0) node.writableMode = status.st_mode & 07777;
    g_chmod(staged.c_str(), 0444);
  }
  if (g_rename(staged.c_str(), (RootDir() + path).c_str()) != 0) {
    error = "cannot add the node " + path;
    Detach(node);
    return false;
  }
  if (lag == 0 && !AddSysfsEntry(node, error)) {
    g_unlink((RootDir() + path).c_str());
    Detach(node);
    return false;
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

bool EmulatedBus::AddSysfsEntry(const Node& node, std::string& error) {
  const std::string description =
      WithoutNode(DeviceDescription(kEmulatedBus, node.devnum, node.port, Vx742Identity()));
  GError* failure = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &failure)) {
    error = "cannot add the device: " + TakeMessage(failure);
    return false;
  }
  return true;
}

void EmulatedBus::ApplySysfsLag(Slot& slot) {
  const Micros now = slot.device->With([](DeviceState&, Micros now) { return now; });
  for (Node& node : slot.nodes) {
    if (node.sysfsAt < 0 || now < node.sysfsAt) continue;
    std::string error;
    if (!AddSysfsEntry(node, error)) g_printerr("tamsolt-sim-run: %s\n", error.c_str());
    node.sysfsAt = -1;
  }
  for (Node& node : slot.retired) {
    if (node.unlinkAt < 0 || now < node.unlinkAt) continue;
    g_unlink((RootDir() + DeviceNodePath(kEmulatedBus, node.devnum)).c_str());
    node.unlinkAt = -1;
  }
}

void EmulatedBus::RemoveNode(Slot& slot) {
  Node node = slot.nodes.back();
  slot.nodes.pop_back();
  Micros now = 0;
  const Micros lag = slot.device->With([&now](DeviceState& state, Micros at) {
    now = at;
    return state.model.GetFaults().sysfsLag;
  });
  // A node whose entry has not come yet has none to lose.
  if (node.sysfsAt < 0) {
    umockdev_testbed_remove_device(testbed_, DeviceSysfsPath(kEmulatedBus, node.port).c_str());
  }
  node.sysfsAt = -1;
  // The testbed does not know the node; the scan must not find it, after the lag.
  node.unlinkAt = now + lag;
  if (lag == 0) {
    g_unlink((RootDir() + DeviceNodePath(kEmulatedBus, node.devnum)).c_str());
    node.unlinkAt = -1;
  }
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
