// The umockdev testbed and the device nodes on its bus 001. Besides its root
// hub the bus follows the models of a station: for each emulated device as
// many VX742 nodes as its model lists at this moment, each served by a usbfs
// handler of that device. A device
// that leaves the bus (restart, unplug) loses its node; when it comes back it
// gets a new device number, as a re-enumerated device does. With a sysfs lag
// (Faults::sysfsLag) a node comes that long before its port's sysfs entry and
// goes that long after it, as the kernel's two sides do not change at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/umockdev_ioctl_handler.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace sim {

class EmulatedBus {
 public:
  // Creates the testbed; it sets UMOCKDEV_DIR in this process's environment.
  // usbFileSystem false: /dev/bus/usb stays empty, as on a host without usbfs.
  // Devices that are listed together get device numbers in the order given.
  // ports: where each device is plugged ("1-1.3"), one per device.
  // arrivesOnCommand: per device, whether it waits for PlugOnCommand (empty:
  // none does).
  EmulatedBus(std::vector<std::shared_ptr<SharedDevice>> devices,
              const std::vector<std::string>& ports, bool usbFileSystem,
              const std::vector<bool>& arrivesOnCommand = {});
  // A device whose faults say --unwritable-node gets read-only (0444) nodes.
  ~EmulatedBus();
  EmulatedBus(const EmulatedBus&) = delete;
  EmulatedBus& operator=(const EmulatedBus&) = delete;

  // The testbed's root: what UMOCKDEV_DIR must name for a program.
  std::string RootDir() const;

  // Adds or removes VX742 nodes until the bus lists what the models list now.
  // False (with the reason in error) when the testbed refused a change.
  bool Sync(std::string& error);

  // The next board waiting for a command on port arrives now. False (with
  // the reason in error) when none is left, or the one told before is still
  // on the bus.
  bool PlugOnCommand(const std::string& port, std::string& error);
  // The board on port leaves the bus now, for good. False when none is there.
  bool UnplugNow(const std::string& port, std::string& error);

 private:
  struct Node {
    int devnum;
    std::string port;  // kept when the device comes back
    UMockdevIoctlBase* handler;
    Micros writableAt;         // -1, or when the late udev rule makes it writable
    unsigned writableMode = 0644;  // the mode it gets then
    Micros sysfsAt = -1;       // when its sysfs entry comes (-1: there, or not to come)
    Micros unlinkAt = -1;      // left the bus: when the node itself goes (-1: gone)
  };
  // One emulated device and its nodes.
  struct Slot {
    std::shared_ptr<SharedDevice> device;
    std::string port;           // its node's; the two-devices fault's second takes the neighbour
    std::vector<Node> nodes;    // on the bus now
    std::vector<Node> retired;  // left the bus; their handlers still serve open handles
    bool onCommand = false;     // arrives on PlugOnCommand ...
    bool plugged = false;       // ... which has come
  };

  bool SyncSlot(Slot& slot, std::string& error);
  // Another device's node on port: a board plugged in there waits until it has gone.
  bool PortTaken(const Slot& slot, const std::string& port) const;
  bool AddNode(Slot& slot, std::string& error);
  // Gives nodes of --unwritable-for-ms their mode back once their time is up.
  void ApplyLateRule(Slot& slot);
  void RemoveNode(Slot& slot);
  // Adds the sysfs entries and removes the nodes whose lag is over.
  void ApplySysfsLag(Slot& slot);
  bool AddSysfsEntry(const Node& node, std::string& error);
  void Detach(const Node& node);
  void ChooseSilentNode(Slot& slot);

  std::vector<Slot> slots_;
  UMockdevTestbed* testbed_;
  bool usbFileSystem_;
  int nextDevnum_ = kFirstDevnum;

  static constexpr int kFirstDevnum = 2;  // 1 is the root hub
};

// Which of the matching nodes the link ends up using, given the entries of the
// bus folder in readdir order: devices that appear together are listed by
// libusb 0.1 in the order the folder is read, and the link keeps the last
// match of its walk. Empty when none matches.
std::string NodeUsedByLink(const std::vector<std::string>& readdirOrder,
                           const std::vector<std::string>& matchingNames);

}  // namespace sim
