// Command-line fault options of the emulated device (device_model.h).
#include <charconv>
#include <string_view>

#include "sim/device_model.h"

namespace sim {
namespace {

bool ParseCount(std::string_view text, long long& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() && value >= 0;
}

bool ParseInt(std::string_view text, int& value) {
  long long wide = 0;
  if (!ParseCount(text, wide) || wide > 1'000'000'000) return false;
  value = static_cast<int>(wide);
  return true;
}

bool ParseMillis(std::string_view text, Micros& value) {
  long long millis = 0;
  if (!ParseCount(text, millis) || millis > 86'400'000) return false;
  value = millis * 1000;
  return true;
}

}  // namespace

bool ParseFault(const std::string& option, Faults& faults, std::string& error) {
  const std::string_view text(option);
  const auto equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  const std::string_view value =
      equals == std::string_view::npos ? std::string_view{} : text.substr(equals + 1);
  const bool hasValue = equals != std::string_view::npos;

  bool ok = false;
  if (!hasValue) {
    ok = true;
    if (name == "--absent") faults.absent = true;
    else if (name == "--no-busses") faults.noBusses = true;
    else if (name == "--two-devices") faults.twoDevices = true;
    else if (name == "--open-fails") faults.openFails = true;
    else if (name == "--set-config-fails") faults.setConfigFails = true;
    else if (name == "--claim-fails") faults.claimFails = true;
    else if (name == "--unwritable-node") faults.unwritableNode = true;
    else if (name == "--never-back") faults.neverBack = true;
    else ok = false;
  } else if (name == "--silent") {
    const auto colon = value.find(':');
    ok = colon != std::string_view::npos && ParseInt(value.substr(0, colon), faults.silentFromFrame) &&
         ParseInt(value.substr(colon + 1), faults.silentReplies);
  } else if (name == "--wrong-echo") {
    ok = ParseInt(value, faults.wrongEchoAtFrame);
  } else if (name == "--damaged") {
    ok = ParseInt(value, faults.damagedAtFrame);
  } else if (name == "--stale-code") {
    ok = ParseInt(value, faults.staleCodeAtFrame);
  } else if (name == "--begin-status") {
    ok = ParseInt(value, faults.beginStatus) && faults.beginStatus <= 255;
  } else if (name == "--restart-ms") {
    ok = ParseMillis(value, faults.restartAbsentFor);
  } else if (name == "--unplug-after") {
    ok = ParseInt(value, faults.unplugAfterFrames);
  } else if (name == "--latency-ms") {
    ok = ParseMillis(value, faults.replyLatency);
  } else if (name == "--unwritable-for-ms") {
    ok = ParseMillis(value, faults.unwritableFor);
  } else if (name == "--reboot-after-end-ms") {
    ok = ParseMillis(value, faults.rebootAfterEnd);
  } else if (name == "--leave-ms") {
    ok = ParseMillis(value, faults.leaveAt);
  } else if (name == "--arrive-ms") {
    ok = ParseMillis(value, faults.arriveAfter);
  } else if (name == "--sysfs-lag-ms") {
    ok = ParseMillis(value, faults.sysfsLag);
  }
  if (!ok) error = "unknown or malformed device option: " + option;
  return ok;
}

std::string FaultUsage() {
  return "device options:\n"
         "  --absent              no device on the bus\n"
         "  --no-busses           no USB file system: the bus scans fail\n"
         "  --two-devices         a second matching device, listed first\n"
         "  --open-fails          opening the device fails\n"
         "  --set-config-fails    setting configuration 1 fails\n"
         "  --claim-fails         interface 0 is occupied\n"
         "  --unwritable-node     the node is read-only (no udev rule): usbfs refuses every\n"
         "                        request of a handle, root's too (umockdev only)\n"
         "  --unwritable-for-ms=MS  each new node is read-only for its first MS, as before udev\n"
         "                        applies the rule; a handle opened meanwhile stays refused\n"
         "                        (umockdev only)\n"
         "  --silent=FROM:N       frames FROM .. FROM+N-1 get no reply (frames count from 0)\n"
         "  --wrong-echo=FRAME    the reply to FRAME echoes the next block index\n"
         "  --damaged=FRAME       the reply to FRAME has a bad CRC\n"
         "  --stale-code=FRAME    the reply to FRAME carries an earlier command's code\n"
         "  --begin-status=S      status of the first begin reply (3 restart, 4 ready, 5 refused)\n"
         "  --restart-ms=MS       how long a restarting device is off the bus (default 3000)\n"
         "  --never-back          a restarting device does not come back\n"
         "  --reboot-after-end-ms=MS  once the end reply is read the device reboots: it leaves\n"
         "                        the bus and comes back on its port MS later\n"
         "  --unplug-after=N      the device leaves once the reply to frame N-1 is read\n"
         "  --latency-ms=MS       each reply is ready this long after its frame\n"
         "  --arrive-ms=MS        the device joins the bus MS after the start (umockdev only)\n"
         "  --leave-ms=MS         the device is unplugged MS after the start, for good\n"
         "  --sysfs-lag-ms=MS     the node comes MS before the port's sysfs entry, and goes MS\n"
         "                        after it: a scan meanwhile lists a node of no known port\n"
         "                        (umockdev only)\n";
}

}  // namespace sim
