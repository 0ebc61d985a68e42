// tamsolt-bench: runs the reference batch of all nine kinds in real time and
// prints what it cost against the pacing the protocol imposes (the floor).
// docs/performance.md explains each figure and keeps the results.
//   tamsolt-bench [--divisor N] [--floor-only] [--no-umockdev] [--devices A,B,...] [--pause METHOD]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "bench/inprocess_run.h"
#include "bench/reference_batch.h"
#include "bench/time_split.h"
#include "bench/umockdev_runs.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRoundTrips = 1000;
constexpr double kInProcessTarget = 1.01;  // the whole batch
constexpr double kItemTarget = 1.02;       // every item of it
constexpr double kWallTarget = 1.03;       // under umockdev, against floor + stack
constexpr double kCpuTarget = 0.10;
constexpr double kStationTarget = 1.10;
constexpr double kGapTargetMs = 50;
constexpr double kCliRssTargetMb = 30;
constexpr double kWindowRssTargetMb = 60;

struct Options {
  unsigned divisor = 1;
  bool floorOnly = false;
  bool umockdev = true;
  std::vector<int> devices{1, 4, 8};
  PauseMethod pause = kHostPauseMethod;
};

bool ParsePause(const std::string& name, PauseMethod& method) {
  if (name == "plain") {
    method = PauseMethod::kPlain;
  } else if (name == "low-slack") {
    method = PauseMethod::kLowSlack;
  } else if (name == "finish-on-clock") {
    method = PauseMethod::kLowSlackFinishOnClock;
  } else {
    return false;
  }
  return true;
}

const char* PauseName(PauseMethod method) {
  switch (method) {
    case PauseMethod::kPlain: return "plain";
    case PauseMethod::kLowSlack: return "low-slack";
    case PauseMethod::kLowSlackFinishOnClock: return "finish-on-clock";
  }
  return "?";
}

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--divisor" && i + 1 < argc) {
      options.divisor = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
      if (options.divisor == 0) return false;
    } else if (arg == "--floor-only") {
      options.floorOnly = true;
    } else if (arg == "--no-umockdev") {
      options.umockdev = false;
    } else if (arg == "--pause" && i + 1 < argc) {
      if (!ParsePause(argv[++i], options.pause)) return false;
    } else if (arg == "--devices" && i + 1 < argc) {
      options.devices.clear();
      std::stringstream list(argv[++i]);
      for (std::string n; std::getline(list, n, ',');) options.devices.push_back(std::atoi(n.c_str()));
    } else {
      return false;
    }
  }
  return true;
}

double Seconds(sim::Micros t) { return static_cast<double>(t) / 1e6; }
double Ratio(double a, double b) { return b > 0 ? a / b : 0; }
const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// The message table beside the program, as the window and tamsolt-cli use it.
void UseMessageTable() {
  InitIniPath();
  if (!fs::exists(g_iniPath)) g_iniPath = TAMSOLT_SOURCE_DIR "/res/setting.ini";
}

// "LogLine < OnTimer": the program's own functions on an allocation's call
// stack, innermost first, without the library's internals and the benchmark.
std::string CallChain(const std::vector<std::string>& frames) {
  constexpr int kShown = 5;
  std::string chain;
  int shown = 0;
  for (const std::string& frame : frames) {
    if (frame.rfind("bench::", 0) == 0) break;
    if (frame.rfind("std::", 0) == 0 || frame.rfind("void std::", 0) == 0 || frame.rfind("0x", 0) == 0 ||
        frame.rfind("__", 0) == 0) {
      continue;
    }
    std::string name = frame.substr(0, frame.find('('));
    if (const auto tag = name.find("[abi:"); tag != std::string::npos) name.erase(tag);
    chain += (shown == 0 ? "" : " < ") + name;
    if (++shown == kShown) break;
  }
  return chain;
}

void PrintFloor(const bench::InProcessFigures& f) {
  std::printf("\nPacing floor (the engine's sleeps, poll pauses and timer periods for this batch)\n");
  std::printf("  %-5s %7s %7s %10s\n", "item", "blocks", "frames", "floor s");
  for (const auto& item : f.items) {
    std::printf("  %-5s %7u %7d %10.3f\n", KindName(item.kind), item.blocks, item.frames, Seconds(item.floor));
  }
  std::printf("  %-5s %7s %7d %10.3f\n", "total", "", f.frames, Seconds(f.floor));
  // The gap the engine's own pacing makes, whatever the machine.
  const double gapMs = static_cast<double>(f.designedNetGap.length - f.designedNetGap.fixedWaits) / 1000;
  std::printf("  longest event gap less fixed waits at this pace: %.1f ms in timer %u   target <= %.0f ms: %s\n",
              gapMs, f.designedNetGap.timer, kGapTargetMs, Verdict(gapMs <= kGapTargetMs));
}

void PrintInProcess(const bench::InProcessFigures& f, PauseMethod pause) {
  std::printf("\nIn-process: the engine against the emulated device in this process, real clock, %s pauses\n",
              PauseName(pause));
  std::printf("  %-5s %10s %10s %8s\n", "item", "floor s", "wall s", "ratio");
  for (const auto& item : f.items) {
    const double ratio = Ratio(Seconds(item.wall), Seconds(item.floor));
    std::printf("  %-5s %10.3f %10.3f %8.3f   target <= %.2f: %s\n", KindName(item.kind), Seconds(item.floor),
                Seconds(item.wall), ratio, kItemTarget, Verdict(ratio <= kItemTarget));
  }
  const double ratio = Ratio(Seconds(f.wall), Seconds(f.floor));
  std::printf("  %-5s %10.3f %10.3f %8.3f   target <= %.2f: %s\n", "total", Seconds(f.floor), Seconds(f.wall),
              ratio, kInProcessTarget, Verdict(ratio <= kInProcessTarget));
  std::printf("  %llu pauses, %llu of them shorter than asked   target 0: %s; on average %.1f us late\n",
              static_cast<unsigned long long>(f.pauses), static_cast<unsigned long long>(f.shortPauses),
              Verdict(f.shortPauses == 0),
              f.pauses == 0 ? 0.0 : static_cast<double>(f.sleepOvershoot) / static_cast<double>(f.pauses));
  const double cpu = Ratio(f.cpuSeconds, Seconds(f.wall));
  std::printf("  CPU time %.2f s = %.1f %% of one core (engine and emulated device)   target <= %.0f %%: %s\n",
              f.cpuSeconds, 100 * cpu, 100 * kCpuTarget, Verdict(cpu <= kCpuTarget));
  std::printf("  peak RSS %.1f MB (this process: engine, emulated device, its record of every frame)\n",
              static_cast<double>(f.peakRssKb) / 1024);
  std::printf("  round trip on this stack %.1f us (%d frames: %.3f s)\n", f.roundTripMicros, f.frames,
              f.roundTripMicros * f.frames / 1e6);
  const double gapMs = static_cast<double>(f.longestGap.length) / 1000;
  const double netMs = static_cast<double>(f.longestNetGap.length - f.longestNetGap.fixedWaits) / 1000;
  std::printf("  longest event gap %.1f ms in timer %u, of it %.1f ms the device's fixed waits\n", gapMs,
              f.longestGap.timer, static_cast<double>(f.longestGap.fixedWaits) / 1000);
  std::printf("  longest event gap less fixed waits %.1f ms (gap %.1f ms) in timer %u   target <= %.0f ms: %s\n",
              netMs, static_cast<double>(f.longestNetGap.length) / 1000, f.longestNetGap.timer, kGapTargetMs,
              Verdict(netMs <= kGapTargetMs));
  std::printf("  heap allocations inside the block loops: %llu, of them %llu in the middle of an image's blocks"
              "   target 0: %s\n",
              static_cast<unsigned long long>(f.loopAllocations),
              static_cast<unsigned long long>(f.midBlockAllocations), Verdict(f.loopAllocations == 0));
  std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> byChain;  // chain -> all, mid-block
  for (const auto& site : f.allocationSites) {
    auto& counts = byChain[CallChain(site.frames)];
    counts.first += site.count;
    counts.second += site.midBlocks;
  }
  for (const auto& [chain, counts] : byChain) {
    std::printf("    %6llu x (%llu mid-block) %s\n", static_cast<unsigned long long>(counts.first),
                static_cast<unsigned long long>(counts.second), chain.c_str());
  }
  const sim::Micros late = f.sleepOvershoot + f.timerLateness;
  std::printf("  of the %.3f s over the floor: sleeps came back %.3f s late, timer ticks %.3f s late;"
              " the rest, %.3f s, is the engine, the device and the stack\n",
              Seconds(f.wall - f.floor), Seconds(f.sleepOvershoot), Seconds(f.timerLateness),
              Seconds(f.wall - f.floor - late));
}

// False, after showing the program's output, when it did not end well.
bool Succeeded(const char* program, const bench::ChildRun& run) {
  if (run.exitCode == 0) return true;
  std::printf("  %s failed (exit code %d); its output:\n", program, run.exitCode);
  for (const auto& line : run.lines) std::printf("    %s\n", line.text.c_str());
  return false;
}

void PrintCpuAndRss(const bench::ChildRun& run, double rssTargetMb) {
  const double cpu = Ratio(run.cpuSeconds, Seconds(run.wall));
  std::printf("  CPU time %.2f s = %.1f %% of one core   target <= %.0f %%: %s\n", run.cpuSeconds, 100 * cpu,
              100 * kCpuTarget, Verdict(cpu <= kCpuTarget));
  const double rssMb = static_cast<double>(run.peakRssKb) / 1024;
  std::printf("  peak RSS %.1f MB   target <= %.0f MB: %s\n", rssMb, rssTargetMb, Verdict(rssMb <= rssTargetMb));
}

double MicrosEach(const bench::CallTime& call) {
  return call.calls == 0 ? 0.0 : static_cast<double>(call.micros) / static_cast<double>(call.calls);
}

// The stack's cost per frame: the program's own time in its USB calls when it
// timed them (what the stack cost this run), else the probe's bare round trip
// (taken apart from the run, back to back: it varied by half between runs).
double StackMicrosPerFrame(const bench::InProcessFigures& f, const bench::ChildRun& run, double roundTripMicros) {
  if (!run.timed || f.frames == 0) return roundTripMicros;
  const bench::LinkTiming& t = run.timing;
  return static_cast<double>(t.writes.micros + t.reads.micros + t.emptyReads.micros) / f.frames;
}

// The excess over floor + stack, split by the program's own timing of its USB
// calls and pauses. beforeFirstFrame: the part of `wall` before its first frame.
void PrintTimeSplit(const bench::InProcessFigures& f, const bench::ChildRun& run, sim::Micros wall,
                    sim::Micros beforeFirstFrame, double roundTripMicros) {
  if (!run.timed) return;
  const bench::LinkTiming& t = run.timing;
  const bench::TimeSplit split = bench::SplitTime(t, wall, beforeFirstFrame, f.floor);
  std::printf("  stack: %.3f s in its USB calls, %llu writes %.1f us each, %llu reads with a report %.1f us each,"
              " %llu without %.1f us each (the bare round trip would make it %.3f s)\n",
              Seconds(split.usbCalls), static_cast<unsigned long long>(t.writes.calls), MicrosEach(t.writes),
              static_cast<unsigned long long>(t.reads.calls), MicrosEach(t.reads),
              static_cast<unsigned long long>(t.emptyReads.calls), MicrosEach(t.emptyReads),
              f.frames * roundTripMicros / 1e6);
  std::printf("  of the %.3f s over floor + stack (the program's own timing of its calls):\n", Seconds(split.excess));
  std::printf("    %8.3f s before its first frame (the runner, start-up, file checks, the device search)\n",
              Seconds(split.beforeFirstFrame));
  std::printf("    %8.3f s pauses late (%llu pauses, %.1f us each)\n", Seconds(split.pausesLate),
              static_cast<unsigned long long>(t.pauses.calls),
              t.pauses.calls == 0 ? 0.0 : static_cast<double>(split.pausesLate) / static_cast<double>(t.pauses.calls));
  std::printf("    %8.3f s the rest beyond the floor's timer periods (the engine, its output, ticks late)\n",
              Seconds(split.restBeyondTimers));
}

void PrintCli(const bench::InProcessFigures& f, const bench::ChildRun& run, double roundTripMicros) {
  std::printf("\nThrough tamsolt-cli on Debian's libusb under umockdev (one device%s)\n",
              run.timed ? "; tamsolt-bench-cli, its code timing its calls" : "");
  if (!Succeeded("tamsolt-cli", run)) return;
  const double stackMicros = StackMicrosPerFrame(f, run, roundTripMicros);
  std::printf("  bare round trip on this stack %.1f us; stack cost per frame %.1f us (%s)\n", roundTripMicros,
              stackMicros, run.timed ? "the program's own time in its USB calls" : "the bare round trip");
  std::vector<std::string> completions;
  for (const auto& item : f.items) completions.push_back(item.finishedText);
  const std::vector<sim::Micros> times = bench::SplitAtCompletionLines(completions, run.lines, run.wall);
  std::printf("  %-5s %10s %10s %10s %8s\n", "item", "floor s", "stack s", "wall s", "ratio");
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double stack = f.items[i].frames * stackMicros / 1e6;
    std::printf("  %-5s %10.3f %10.3f %10.3f %8.3f\n", KindName(f.items[i].kind), Seconds(f.items[i].floor), stack,
                Seconds(times[i]), Ratio(Seconds(times[i]), Seconds(f.items[i].floor) + stack));
  }
  if (times.empty()) std::printf("  (no per-item times: the completion lines were not found in its output)\n");
  const double stack = f.frames * stackMicros / 1e6;
  const double ratio = Ratio(Seconds(run.wall), Seconds(f.floor) + stack);
  std::printf("  %-5s %10.3f %10.3f %10.3f %8.3f   target <= %.2f: %s\n", "total", Seconds(f.floor), stack,
              Seconds(run.wall), ratio, kWallTarget, Verdict(ratio <= kWallTarget));
  const auto outsideProgram = run.wall - static_cast<sim::Micros>(run.timing.exitMicros);
  PrintTimeSplit(f, run, run.wall, outsideProgram + static_cast<sim::Micros>(run.timing.firstFrameMicros),
                 roundTripMicros);
  PrintCpuAndRss(run, kCliRssTargetMb);
  std::printf("  the device's nine images, byte for byte against their files: %s\n",
              run.verifiedSets == 1 ? "verified" : "NOT VERIFIED");
  for (const std::string& verdict : run.unverified) std::printf("    %s\n", verdict.c_str());
}

void PrintStation(const std::vector<int>& devices, const std::vector<bench::ChildRun>& runs) {
  std::printf("\nStation: tamsolt-cli --all on N emulated devices under umockdev\n");
  std::printf("  %-8s %10s %10s %10s %10s %8s %10s %10s\n", "devices", "wall s", "relative", "CLIs CPU s",
              "all CPU s", "RSS MB", "completed", "verified");
  const double one = runs.empty() ? 0 : Seconds(runs.front().wall);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const double relative = Ratio(Seconds(runs[i].wall), one);
    std::printf("  %-8d %10.3f %10.3f %10.2f %10.2f %8.1f %6d/%-3d %6d/%-3d", devices[i], Seconds(runs[i].wall),
                relative, runs[i].cpuSeconds, runs[i].allCpuSeconds, static_cast<double>(runs[i].peakRssKb) / 1024,
                runs[i].imageSets, devices[i], runs[i].verifiedSets, devices[i]);
    if (runs[i].exitCode != 0) std::printf("  exit code %d", runs[i].exitCode);
    if (runs[i].verifiedSets != devices[i]) std::printf("  NOT ALL IMAGES VERIFIED");
    if (devices[i] == 8) std::printf("  target <= %.2f: %s", kStationTarget, Verdict(relative <= kStationTarget));
    std::printf("\n");
    for (const std::string& verdict : runs[i].unverified) std::printf("    %s\n", verdict.c_str());
  }
  // What the emulation costs beside the tool: on a real hub each board answers for itself.
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const double wall = Seconds(runs[i].wall);
    std::printf("  %d device(s): the CLIs %.1f %% of one core each, the emulation (runner, umockdev, its threads)"
                " %.1f %% of one core; the machine's %ld cores %.0f %% busy\n",
                devices[i], 100 * Ratio(runs[i].cpuSeconds, wall * devices[i]),
                100 * Ratio(runs[i].allCpuSeconds - runs[i].cpuSeconds, wall), cores,
                100 * Ratio(runs[i].allCpuSeconds, wall * static_cast<double>(cores)));
  }
}

void PrintWindow(const bench::InProcessFigures& f, const bench::WindowRun& run, double roundTripMicros) {
  std::printf("\nThe main window, offscreen, on Debian's libusb under umockdev (one device)\n");
  if (!Succeeded("the window's batch", run)) return;
  const double stack = f.frames * StackMicrosPerFrame(f, run, roundTripMicros) / 1e6;
  const double ratio = Ratio(Seconds(run.wall), Seconds(f.floor) + stack);
  std::printf("  press to completion message %.3f s, floor %.3f s + stack %.3f s: ratio %.3f   target <= %.2f: %s\n",
              Seconds(run.wall), Seconds(f.floor), stack, ratio, kWallTarget, Verdict(ratio <= kWallTarget));
  PrintTimeSplit(f, run, run.wall, static_cast<sim::Micros>(run.timing.firstFrameMicros) - run.pressedAt,
                 roundTripMicros);
  PrintCpuAndRss(run, kWindowRssTargetMb);
  std::printf("  longest pause of the event loop %ld ms (the device's 2 s close wait included)\n", run.longestGapMs);
  std::printf("  less the device's fixed waits: longest %ld ms, %d pauses over %.0f ms   target <= %.0f ms: %s\n",
              run.longestNetGapMs, run.netGapsOver50Ms, kGapTargetMs, kGapTargetMs,
              Verdict(static_cast<double>(run.longestNetGapMs) <= kGapTargetMs));
}

void RunUmockdev(const Options& options, const bench::ReferenceBatch& batch, const bench::InProcessFigures& f) {
  const bench::Programs programs = bench::FindPrograms();
  if (!programs.HaveRunner()) {
    std::printf("\numockdev runs skipped: %s and %s are not built\n", programs.simRun.c_str(),
                programs.usbProbe.c_str());
    return;
  }
  const double roundTrip = bench::UmockdevRoundTripMicros(programs, kRoundTrips);
  if (programs.HaveCli()) {
    PrintCli(f, bench::RunCli(programs, batch, g_iniPath, 0), roundTrip);
  } else {
    std::printf("\ntamsolt-cli runs skipped: %s is not built\n", programs.cli.c_str());
  }
  std::fflush(stdout);
  if (programs.HaveWindow()) {
    PrintWindow(f, bench::RunWindow(programs, batch, g_iniPath), roundTrip);
  } else {
    std::printf("\nwindow run skipped: %s is built with the window only\n", programs.window.c_str());
  }
  std::fflush(stdout);
  if (!programs.HaveCli()) return;
  std::vector<bench::ChildRun> station;
  for (int devices : options.devices) station.push_back(bench::RunCli(programs, batch, g_iniPath, devices));
  PrintStation(options.devices, station);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const bool help = argc == 2 && std::string(argv[1]) == "--help";
  if (help || !Parse(argc, argv, options)) {
    std::fprintf(help ? stdout : stderr,
                 "usage: tamsolt-bench [--divisor N] [--floor-only] [--no-umockdev] [--devices 1,4,8]\n"
                 "                     [--pause plain|low-slack|finish-on-clock]\n"
                 "  --divisor N     every image but the picture and the test data N times smaller\n"
                 "  --floor-only    only the pacing floor (virtual clock, no waiting)\n"
                 "  --no-umockdev   only the in-process run\n"
                 "  --devices LIST  the station's device counts\n"
                 "  --pause METHOD  how the in-process run's sleeps wait (the hosts': finish-on-clock)\n");
    return help ? 0 : 2;
  }
  UseMessageTable();
  char pattern[] = "/tmp/tamsolt-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const bench::ReferenceBatch batch = bench::WriteReferenceBatch(pattern, options.divisor);
  std::printf("Reference batch (image sizes divided by %u):", options.divisor);
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) std::printf(" %s %zu", KindName(kind), batch.sizes[kind]);
  std::printf(" bytes\n");

  const bench::InProcessFigures figures = options.floorOnly ? bench::FloorOnly(batch) : bench::RunInProcess(batch, options.pause);
  int exitCode = 0;
  if (!figures.failure.empty()) {
    std::printf("in-process batch failed: %s\n", figures.failure.c_str());
    exitCode = 1;
  } else {
    PrintFloor(figures);
    if (!options.floorOnly) PrintInProcess(figures, options.pause);
    std::fflush(stdout);
    if (!options.floorOnly && options.umockdev) RunUmockdev(options, batch, figures);
  }
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
  return exitCode;
}
