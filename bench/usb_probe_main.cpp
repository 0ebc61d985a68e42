// tamsolt-bench-usb: the benchmark's helper on Debian's libusb, started by
// tamsolt-bench under tamsolt-sim-run.
//   tamsolt-bench-usb --round-trips N
//       times N bare connect round trips; prints "round-trip-us MEAN"
//   tamsolt-bench-usb --usage FILE -- program [args...]
//       runs the program, writes its CPU time and peak RSS (its own children
//       included) into FILE and exits with its exit code
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/round_trip.h"
#include "link/operator_messages.h"

namespace {

class PrintedMessages : public OperatorMessages {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    std::fprintf(stderr, "tamsolt-bench-usb: [%s] %s\n", title.c_str(), text.c_str());
  }
};

int RoundTrips(int count) {
  PrintedMessages messages;
  SetOperatorMessages(&messages);
  const double micros = bench::MeasureRoundTripMicros(count);
  SetOperatorMessages(nullptr);
  if (micros < 0) {
    std::fprintf(stderr, "tamsolt-bench-usb: no round trip with the device\n");
    return 1;
  }
  std::printf("round-trip-us %.1f\n", micros);
  return 0;
}

int RunMeasured(const std::string& usageFile, std::vector<char*> argv) {
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "tamsolt-bench-usb: cannot start %s\n", argv[0]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 127;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (FILE* out = std::fopen(usageFile.c_str(), "w")) {
    std::fprintf(out, "cpu-seconds %.3f\npeak-rss-kb %ld\n", cpu, usage.ru_maxrss);
    std::fclose(out);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tamsolt-bench-usb --round-trips N\n"
               "       tamsolt-bench-usb --usage FILE -- program [args...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--round-trips") return RoundTrips(std::atoi(args[1].c_str()));
  if (args.size() >= 4 && args[0] == "--usage" && args[2] == "--") {
    return RunMeasured(args[1], std::vector<char*>(argv + 4, argv + argc));
  }
  return Usage();
}
