#include "sim/umockdev_run_options.h"

#include <sys/wait.h>

#include <charconv>
#include <utility>

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

}  // namespace

std::string DeviceOutputDir(const std::string& outputDir, std::size_t index, std::size_t count) {
  if (outputDir.empty() || count == 1) return outputDir;
  return outputDir + "/device-" + std::to_string(index + 1);
}

bool ParseRunOptions(const std::vector<std::string>& args, RunOptions& options,
                     std::string& error) {
  int deviceCount = 1;
  std::vector<std::string> everyDevice;
  std::vector<std::pair<int, std::string>> oneDevice;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& option = args[i];
    if (option == "--devices" || StartsWith(option, "--devices=")) {
      const std::string value =
          option == "--devices" ? (i + 1 < args.size() ? args[++i] : "") : option.substr(10);
      if (!ParseCount(value, deviceCount) || deviceCount < 1 || deviceCount > kMaxDevices) {
        error = "--devices wants a number from 1 to " + std::to_string(kMaxDevices);
        return false;
      }
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
    } else if (option == "--quiet") {
      options.summary = false;
    } else {
      Faults scratch;
      if (!ParseFault(option, scratch, error)) return false;
      everyDevice.push_back(option);
    }
  }
  options.devices.assign(static_cast<std::size_t>(deviceCount), Faults{});
  for (Faults& faults : options.devices) {
    for (const std::string& fault : everyDevice) ParseFault(fault, faults, error);
  }
  for (const auto& [device, fault] : oneDevice) {
    if (device > deviceCount) {
      error = "--fault-on names device " + std::to_string(device) + " of " +
              std::to_string(deviceCount);
      return false;
    }
    ParseFault(fault, options.devices[static_cast<std::size_t>(device - 1)], error);
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
  return "usage: tamsolt-sim-run [--devices N] [faults] [--fault-on=K:FAULT] [--out=DIR] "
         "[--quiet]\n"
         "                       -- program [args...]\n"
         "Runs program against emulated VX742s on the USB bus of an umockdev testbed.\n"
         "  --devices N        N devices on the bus (default 1), each with its own model\n"
         "  --fault-on=K:FAULT the fault for device K only (from 1), as --fault-on=2:--silent=3:2;\n"
         "                     a fault without it applies to every device\n"
         "  --out=DIR          write the images a device received at each end command into DIR\n"
         "                     (with N > 1 device K writes into DIR/device-K)\n"
         "  --quiet            no frame counters on standard error at the end\n"
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
