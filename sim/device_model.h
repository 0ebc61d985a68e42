// The emulated VX742: takes OUT frames, answers with 64-byte reports, keeps what
// it received per image and stores it when the exchange ends. It is strict: it
// rejects what a real device would reject (bad sync, length or CRC, a header
// that does not fit its command). Time is passed in by the caller, so the same
// model runs on a virtual clock in-process and on the real clock behind umockdev.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Micros = std::int64_t;  // microseconds on the caller's clock

// Faults the device can be told to produce; several may be combined. Frame
// numbers count every OUT frame the device received, from 0, rejected ones too.
struct Faults {
  bool absent = false;           // no matching device on the bus
  bool noBusses = false;         // no USB file system at all: the scans fail, no bus list
  bool twoDevices = false;       // a second matching device is listed before the served one
  bool openFails = false;        // usb_open returns null
  bool setConfigFails = false;   // usb_set_configuration fails
  bool claimFails = false;       // usb_claim_interface fails (interface occupied)
  bool unwritableNode = false;   // the node lacks write permission, as without the udev rule
  int silentFromFrame = -1;      // from the frame with this number on ...
  int silentReplies = 0;         // ... this many frames get no reply
  int wrongEchoAtFrame = -1;     // the reply to this frame echoes the next block index
  int damagedAtFrame = -1;       // the reply to this frame has a bad CRC
  int staleCodeAtFrame = -1;     // the reply to this frame carries an earlier command's code
  int beginStatus = 4;           // status of the first begin reply (3 restart, 4 ready, 5 refused)
  Micros restartAbsentFor = 3'000'000;  // after status 3 the device is off the bus this long
  bool neverBack = false;        // after status 3 the device does not come back
  int unplugAfterFrames = -1;    // the device leaves the bus once the reply to this many frames is read
  Micros replyLatency = 0;       // each report becomes ready this long after its frame
  Micros leaveAt = -1;           // the board is unplugged at this time (-1: never)
  Micros rebootAfterEnd = -1;    // once the end reply is read the device reboots: off the bus this long
  // Served by the umockdev tier only (the bus and its usbfs handles):
  Micros arriveAfter = 0;        // the device joins the bus this long after the runner started
  Micros unwritableFor = 0;      // each new node is read-only this long (udev's rule comes late)
  // Between the node and the sysfs entry: a node comes this long before its
  // port's entry, and outlives it by as long when the board leaves.
  Micros sysfsLag = 0;
};

// Parses fault options ("--absent", "--silent=FROM:N", "--begin-status=3", ...);
// returns false and an error text for an unknown or malformed option.
bool ParseFault(const std::string& option, Faults& faults, std::string& error);
std::string FaultUsage();

struct Summary {
  std::map<std::uint16_t, int> commandsSeen;  // command code -> frames accepted
  int frames = 0;                             // OUT frames received
  int rejectedFrames = 0;                     // dropped without a reply (sync, length, CRC, header)
  int retries = 0;                            // frames that repeated the previous one
  int exchangesEnded = 0;                     // end commands answered
  int restarts = 0;                           // times the device left the bus to restart
};

// How interface 0's latest claim ended, for a test to read after the run.
enum class ClaimEnd {
  NeverClaimed,  // no handle ever held it
  Held,          // still held by a handle (a run over: its handle was closed holding it)
  Released,      // its holder released it by its own request
  Closed,        // its holder's handle was closed while it held it
  LeftTheBus,    // the board left the bus (restart, unplug) while it was held
};

class DeviceModel {
 public:
  // outputDir: where the images are written at each end command (empty: not written).
  DeviceModel(Faults faults, std::string outputDir);
  ~DeviceModel();
  DeviceModel(DeviceModel&&) noexcept;
  DeviceModel& operator=(DeviceModel&&) noexcept;

  // How many matching devices the bus lists at this time (0, 1 or 2).
  int ListedDevices(Micros now) const;
  bool Present(Micros now) const { return ListedDevices(now) > 0; }

  // An open handle of the device, named by the caller (any value but 0): as
  // usbfs binds a claim to the file that made it, interface 0 belongs to at
  // most one handle at a time.
  using HandleId = std::uintptr_t;

  // usb_open / usb_set_configuration / usb_claim_interface outcomes.
  bool Open(Micros now);
  bool SetConfiguration(int value);
  // False while another handle holds interface 0 (EBUSY): the kernel does not
  // let a handle change the configuration, nor claim, under another's claim.
  bool InterfaceFreeFor(HandleId handle) const;
  bool ClaimInterface(int number, HandleId handle);
  // False when handle does not hold the interface (EINVAL).
  bool ReleaseInterface(int number, HandleId handle);
  // The handle is closed: whatever it held is released.
  void Close(HandleId handle);
  ClaimEnd LatestClaimEnd() const;

  // The board is pulled out now, for good (a handle gets ENODEV from now on).
  void Unplug();
  // Off the bus and not coming back (unplugged, left, or a restart for good).
  bool GoneForGood(Micros now) const;

  // One bulk OUT transfer. False when the device is not there (the write fails).
  bool ReceiveFrame(const std::uint8_t* data, std::size_t length, Micros now);
  // When the next queued report is ready, if one is queued.
  std::optional<Micros> NextReportTime() const;
  // Takes the next report that is ready at or before now into out (64 bytes).
  bool TakeReport(Micros now, std::uint8_t* out);

  // What has been received so far, by image name ("boot", "host", "rcdb", "font",
  // "lang", "fv", "bmp", "pic", "tdb"), and the counters.
  const std::map<std::string, std::vector<std::uint8_t>>& Images() const;
  const Summary& GetSummary() const;
  const Faults& GetFaults() const;
  // Why the last dropped frame was dropped (empty when none was), for diagnostics.
  const std::string& LastRejection() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
