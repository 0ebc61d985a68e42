#include "sim/umockdev_run_options.h"

#include <sys/wait.h>

namespace sim {

namespace {

constexpr char kPreloadLibrary[] = "libumockdev-preload.so.0";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool ParseRunOptions(const std::vector<std::string>& args, RunOptions& options,
                     std::string& error) {
  std::size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& option = args[i];
    if (StartsWith(option, "--out=")) {
      options.outputDir = option.substr(6);
      if (options.outputDir.empty()) {
        error = "--out needs a folder";
        return false;
      }
    } else if (option == "--quiet") {
      options.summary = false;
    } else if (!ParseFault(option, options.faults, error)) {
      return false;
    }
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
  return "usage: tamsolt-sim-run [faults] [--out=DIR] [--quiet] -- program [args...]\n"
         "Runs program against an emulated VX742 on the USB bus of an umockdev testbed.\n"
         "  --out=DIR  write the images the device received at each end command into DIR\n"
         "  --quiet    no frame counters on standard error at the end\n"
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
