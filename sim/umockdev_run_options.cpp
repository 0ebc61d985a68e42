#include "sim/umockdev_run_options.h"

#include <sys/wait.h>

#include <charconv>
#include <utility>

#include "sim/umockdev_usbfs.h"

namespace sim {

namespace {

constexpr char kPreloadLibrary[] = "libumockdev-preload.so.0";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

constexpr int kMaxDevices = 32;

bool ParseCount(const std::string& text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// "K:FAULT" of --fault-on: the device number and the fault, checked here.
bool ParseDeviceFault(const std::string& value, std::pair<int, std::string>& fault,
                      std::string& error) {
  const auto colon = value.find(':');
  Faults scratch;
  if (colon == std::string::npos || !ParseCount(value.substr(0, colon), fault.first) ||
      fault.first < 1) {
    error = "--fault-on wants K:FAULT with K from 1, as in --fault-on=2:--silent=3:2";
    return false;
  }
  fault.second = value.substr(colon + 1);
  return ParseFault(fault.second, scratch, error);
}

// One --plug: the board's port and when it is on the bus.
struct Plug {
  std::string port;
  Micros at = 0;
  Micros leave = -1;       // never
  bool onCommand = false;  // "cmd" for AT_MS: arrives on a plug command
};

bool ParseMillisField(const std::string& text, Micros& value) {
  int millis = 0;
  if (!ParseCount(text, millis) || millis < 0 || millis > 86'400'000) return false;
  value = Micros{millis} * 1000;
  return true;
}

// "PORT:AT_MS[:LEAVE_MS]", as --plug=1-1.3:500:4000, or "PORT:cmd[:LEAVE_MS]".
bool ParsePlug(const std::string& value, Plug& plug, std::string& error) {
  const auto first = value.find(':');
  const auto second = first == std::string::npos ? first : value.find(':', first + 1);
  plug.port = value.substr(0, first);
  const std::string at =
      first == std::string::npos ? "" : value.substr(first + 1, second - first - 1);
  plug.onCommand = at == "cmd";
  const bool ok =
      first != std::string::npos && ValidPortPath(plug.port) &&
      (plug.onCommand || ParseMillisField(at, plug.at)) &&
      (second == std::string::npos ||
       (ParseMillisField(value.substr(second + 1), plug.leave) && plug.leave > plug.at));
  if (!ok) {
    error = "--plug wants PORT:AT_MS[:LEAVE_MS] (or PORT:cmd[:LEAVE_MS]) with a port as the "
            "kernel names it and LEAVE_MS after AT_MS, as in --plug=1-1.3:500:4000";
  }
  return ok;
}

// Two boards on one port at once: the later one could not be plugged in. A
// board plugged on command comes when it is told to; the bus keeps it waiting
// while its port is taken.
bool Overlap(const Plug& a, const Plug& b) {
  if (a.onCommand || b.onCommand) return false;
  const bool aEndsFirst = a.leave >= 0 && a.leave <= b.at;
  const bool bEndsFirst = b.leave >= 0 && b.leave <= a.at;
  return a.port == b.port && !aEndsFirst && !bEndsFirst;
}

}  // namespace

std::string DefaultPortPath(std::size_t index) {
  return "1-" + std::to_string(1 + 2 * (index / 16)) + "." + std::to_string(index % 16 + 1);
}

std::string DeviceOutputDir(const std::string& outputDir, std::size_t index, std::size_t count) {
  if (outputDir.empty() || count == 1) return outputDir;
  return outputDir + "/device-" + std::to_string(index + 1);
}

bool ParseRunOptions(const std::vector<std::string>& args, RunOptions& options,
                     std::string& error) {
  int deviceCount = -1;  // not given
  std::vector<Plug> plugs;
  std::vector<std::string> everyDevice;
  std::vector<std::pair<int, std::string>> oneDevice;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& option = args[i];
    if (option == "--devices" || StartsWith(option, "--devices=")) {
      const std::string value =
          option == "--devices" ? (i + 1 < args.size() ? args[++i] : "") : option.substr(10);
      if (!ParseCount(value, deviceCount) || deviceCount < 0 || deviceCount > kMaxDevices) {
        error = "--devices wants a number from 0 (with --plug) to " + std::to_string(kMaxDevices);
        return false;
      }
    } else if (StartsWith(option, "--plug=")) {
      Plug plug;
      if (!ParsePlug(option.substr(7), plug, error)) return false;
      plugs.push_back(plug);
    } else if (StartsWith(option, "--fault-on=")) {
      std::pair<int, std::string> fault;
      if (!ParseDeviceFault(option.substr(11), fault, error)) return false;
      oneDevice.push_back(std::move(fault));
    } else if (StartsWith(option, "--out=")) {
      options.outputDir = option.substr(6);
      if (options.outputDir.empty()) {
        error = "--out needs a folder";
        return false;
      }
    } else if (StartsWith(option, "--control=") || StartsWith(option, "--report=")) {
      std::string& path = option[2] == 'c' ? options.controlPath : options.reportPath;
      path = option.substr(option.find('=') + 1);
      if (path.empty()) {
        error = option.substr(0, option.find('=')) + " needs a file";
        return false;
      }
    } else if (option == "--quiet") {
      options.summary = false;
    } else {
      Faults scratch;
      if (!ParseFault(option, scratch, error)) return false;
      everyDevice.push_back(option);
    }
  }
  if (deviceCount < 0) deviceCount = plugs.empty() ? 1 : 0;
  // The devices of --devices are plugged in from the start, and stay.
  std::vector<Plug> station;
  for (int k = 0; k < deviceCount; ++k) station.push_back({DefaultPortPath(k), 0, -1});
  station.insert(station.end(), plugs.begin(), plugs.end());
  if (station.size() > static_cast<std::size_t>(kMaxDevices)) {
    error = "at most " + std::to_string(kMaxDevices) + " devices, --plug ones included";
    return false;
  }
  for (std::size_t a = 0; a < station.size(); ++a) {
    for (std::size_t b = a + 1; b < station.size(); ++b) {
      if (Overlap(station[a], station[b])) {
        error = "devices " + std::to_string(a + 1) + " and " + std::to_string(b + 1) +
                " are on port " + station[a].port + " at the same time";
        return false;
      }
    }
  }
  deviceCount = static_cast<int>(station.size());
  options.devices.assign(station.size(), Faults{});
  options.ports.clear();
  options.arrivesOnCommand.clear();
  for (std::size_t k = 0; k < station.size(); ++k) {
    Faults& faults = options.devices[k];
    for (const std::string& fault : everyDevice) ParseFault(fault, faults, error);
    options.ports.push_back(station[k].port);
    options.arrivesOnCommand.push_back(station[k].onCommand);
    if (station[k].onCommand && options.controlPath.empty()) {
      error = "--plug=" + station[k].port + ":cmd wants --control=FIFO to be told when";
      return false;
    }
    if (station[k].at > 0) faults.arriveAfter = station[k].at;
    if (station[k].leave >= 0) faults.leaveAt = station[k].leave;
  }
  for (const auto& [device, fault] : oneDevice) {
    if (device > deviceCount) {
      error = "--fault-on names device " + std::to_string(device) + " of " +
              std::to_string(deviceCount);
      return false;
    }
    ParseFault(fault, options.devices[static_cast<std::size_t>(device - 1)], error);
  }
  if (options.devices.empty()) {
    error = "no device: --devices 0 wants a --plug";
    return false;
  }
  if (i == args.size()) {
    error = "missing \"--\" before the program to run";
    return false;
  }
  options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (options.command.empty()) {
    error = "no program to run after \"--\"";
    return false;
  }
  return true;
}

std::string RunUsage() {
  return "usage: tamsolt-sim-run [--devices N] [--plug=PORT:AT_MS[:LEAVE_MS]]... [faults]\n"
         "                       [--fault-on=K:FAULT] [--control=FIFO] [--report=FILE]\n"
         "                       [--out=DIR] [--quiet] -- program [args...]\n"
         "Runs program against emulated VX742s on the USB bus of an umockdev testbed.\n"
         "  --devices N        N devices on the bus from the start (default 1, or 0 with --plug),\n"
         "                     each with its own model; device K sits on port 1-1.K\n"
         "                     (1-3.K-16 from the 17th on)\n"
         "  --plug=PORT:AT_MS[:LEAVE_MS]\n"
         "                     one more board (numbered after those of --devices, in order):\n"
         "                     plugged into PORT (as the kernel names it, 1-1.3) AT_MS after\n"
         "                     the start and, with LEAVE_MS, unplugged then; repeat it for a\n"
         "                     station, and for boards plugged into a port one after another;\n"
         "                     AT_MS \"cmd\": it arrives on a plug command of --control\n"
         "                     (LEAVE_MS still counts from the start)\n"
         "  --control=FIFO     read commands from the named pipe (made with mkfifo), one a line:\n"
         "                     \"plug PORT\": the next --plug=PORT:cmd board arrives now;\n"
         "                     \"unplug PORT\": the board on PORT leaves now, for good;\n"
         "                     a command that cannot be done is said on stderr and ignored\n"
         "  --report=FILE      at the end, one line per device into FILE:\n"
         "                     device K port PORT frames N rejected N interface HOW, HOW being\n"
         "                     released (by the program), closed-while-claimed (its handle closed\n"
         "                     or ended holding it), lost-on-leave (the board left the bus while\n"
         "                     it was held) or never-claimed\n"
         "  --fault-on=K:FAULT the fault for device K only (from 1), as --fault-on=2:--silent=3:2;\n"
         "                     a fault without it applies to every device\n"
         "  --out=DIR          write the images a device received at each end command into DIR\n"
         "                     (with N > 1 device K writes into DIR/device-K)\n"
         "  --quiet            no frame counters on standard error at the end\n"
         "The runner waits for every process the program leaves behind (it is their\n"
         "subreaper) and serves the devices until the last has ended; its exit code is the\n"
         "program's own.\n"
         "Each device is served on its own thread. As the kernel, a device's interface 0\n"
         "belongs to one open handle at a time: another handle's set-configuration, claim\n"
         "and URBs fail with EBUSY until the holder releases it or closes.\n"
         "faults:\n" +
         FaultUsage();
}

std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& environment,
                                            const std::string& testbedRoot) {
  std::vector<std::string> result;
  std::string preload = kPreloadLibrary;
  std::string asanOptions = "verify_asan_link_order=0";
  for (const std::string& entry : environment) {
    if (StartsWith(entry, "LD_PRELOAD=")) {
      const std::string earlier = entry.substr(11);
      if (!earlier.empty()) preload += ":" + earlier;
    } else if (StartsWith(entry, "ASAN_OPTIONS=")) {
      const std::string earlier = entry.substr(13);
      // Options given later win; the caller's own choice is kept.
      if (!earlier.empty()) asanOptions += ":" + earlier;
    } else if (!StartsWith(entry, "UMOCKDEV_DIR=")) {
      result.push_back(entry);
    }
  }
  result.push_back("LD_PRELOAD=" + preload);
  result.push_back("UMOCKDEV_DIR=" + testbedRoot);
  result.push_back("ASAN_OPTIONS=" + asanOptions);
  return result;
}

int ExitCodeOfWaitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 1;
}

}  // namespace sim
