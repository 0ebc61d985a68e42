#include "bench/umockdev_runs.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "demo/device_check.h"
#include "settings/settings.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

sim::Micros Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Runs argv with standard output and error on one pipe; each line is stamped as it arrives.
ChildRun RunTimed(const std::vector<std::string>& args) {
  ChildRun run;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return run;
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string pending;
  char buffer[4096];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    const sim::Micros at = Since(start);
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      run.lines.push_back({at, pending.substr(0, end)});
    }
  }
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  run.wall = Since(start);
  run.allCpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (!pending.empty()) run.lines.push_back({run.wall, pending});
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return run;
}

std::vector<std::string> LineTexts(const ChildRun& run) {
  std::vector<std::string> texts;
  for (const TimedLine& line : run.lines) texts.push_back(line.text);
  return texts;
}

void ReadUsage(const std::string& file, ChildRun& run) {
  std::ifstream in(file);
  std::string key;
  while (in >> key) {
    if (key == "cpu-seconds") in >> run.cpuSeconds;
    if (key == "peak-rss-kb") in >> run.peakRssKb;
  }
}

// The batch's files as the device check names them.
std::vector<SourceFile> Sources(const ReferenceBatch& batch) {
  std::vector<SourceFile> sources;
  for (const RowKind row : kAllRowKinds) {
    for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
      if (std::string(KindName(kind)) == KindLabel(row)) sources.push_back({row, batch.paths[kind]});
    }
  }
  return sources;
}

// Every device folder (one with a summary.txt): how many there are, and how
// many hold all nine images as their source files demand, byte for byte.
void CheckImageSets(const fs::path& folder, const ReferenceBatch& batch, ChildRun& run) {
  const std::vector<SourceFile> sources = Sources(batch);
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(folder, ignored), end; it != end; it.increment(ignored)) {
    if (it->path().filename() != "summary.txt") continue;
    ++run.imageSets;
    const std::vector<ImageFinding> findings = CheckDeviceImages(sources, it->path().parent_path());
    if (sources.size() == kKindCount && AllMatch(findings)) {
      ++run.verifiedSets;
    } else {
      run.unverified.push_back(it->path().parent_path().string() + ": " + Verdict(findings));
    }
  }
}

}  // namespace

bool Programs::HaveRunner() const { return Executable(simRun) && Executable(usbProbe); }
bool Programs::HaveCli() const { return Executable(cli); }
bool Programs::HaveTimedCli() const { return Executable(timedCli); }
bool Programs::HaveWindow() const { return Executable(window); }

Programs FindPrograms() {
  std::error_code error;
  const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
  return {(folder / "tamsolt-sim-run").string(), (folder / "tamsolt-cli").string(),
          (folder / "tamsolt-bench-usb").string(), (folder / "tamsolt-bench-window").string(),
          (folder / "tamsolt-bench-cli").string()};
}

double UmockdevRoundTripMicros(const Programs& programs, int count) {
  const ChildRun run =
      RunTimed({programs.simRun, "--quiet", "--", programs.usbProbe, "--round-trips", std::to_string(count)});
  for (const TimedLine& line : run.lines) {
    double micros = 0;
    if (run.exitCode == 0 && std::sscanf(line.text.c_str(), "round-trip-us %lf", &micros) == 1) return micros;
  }
  return -1;
}

ChildRun RunCli(const Programs& programs, const ReferenceBatch& batch, const std::string& messageTable,
                int devices) {
  const fs::path out = fs::path(batch.folder) / ("received-" + std::to_string(devices));
  const fs::path settings = fs::path(batch.folder) / "cli-setting.ini";
  std::error_code error;
  fs::copy_file(messageTable, settings, fs::copy_options::overwrite_existing, error);
  if (error) return {};
  const std::string usage = batch.folder + "/usage-" + std::to_string(devices) + ".txt";
  std::vector<std::string> args{programs.simRun, "--quiet", "--out=" + out.string()};
  if (devices > 0) args.insert(args.end(), {"--devices", std::to_string(devices)});
  const std::string& cli = devices == 0 && programs.HaveTimedCli() ? programs.timedCli : programs.cli;
  args.insert(args.end(), {"--", programs.usbProbe, "--usage", usage, "--", cli, "--settings", settings.string()});
  if (devices > 0) args.push_back("--all");
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    args.insert(args.end(), {"--" + Lower(KindName(kind)), batch.paths[kind]});
  }
  ChildRun run = RunTimed(args);
  run.timed = ParseLinkTiming(LineTexts(run), run.timing);
  ReadUsage(usage, run);
  CheckImageSets(out, batch, run);
  return run;
}

}  // namespace bench

namespace bench {

WindowRun RunWindow(const Programs& programs, const ReferenceBatch& batch, const std::string& messageTable) {
  WindowRun window;
  const fs::path ini = fs::path(batch.folder) / "setting.ini";
  std::error_code error;
  fs::copy_file(messageTable, ini, fs::copy_options::overwrite_existing, error);
  for (std::uint8_t kind = 0; kind < kKindCount && !error; ++kind) {
    if (!WriteProfileString(ini.string(), "setup", KindName(kind), "1") ||
        !WriteProfileString(ini.string(), "PATH", KindName(kind), batch.paths[kind])) {
      return window;
    }
  }
  if (error) return window;
  // Offscreen, with a private runtime folder as Qt wants one.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_RUNTIME_DIR", batch.folder.c_str(), 1);
  static_cast<ChildRun&>(window) = RunTimed({programs.simRun, "--quiet", "--", programs.window, ini.string()});
  for (const TimedLine& line : window.lines) {
    long long value = 0;
    double seconds = 0;
    if (std::sscanf(line.text.c_str(), "window-wall-ms %lld", &value) == 1) window.wall = value * 1000;
    if (std::sscanf(line.text.c_str(), "window-cpu-s %lf", &seconds) == 1) window.cpuSeconds = seconds;
    if (std::sscanf(line.text.c_str(), "window-peak-rss-kb %lld", &value) == 1) window.peakRssKb = static_cast<long>(value);
    if (std::sscanf(line.text.c_str(), "window-longest-gap-ms %lld", &value) == 1) window.longestGapMs = static_cast<long>(value);
    if (std::sscanf(line.text.c_str(), "window-longest-net-gap-ms %lld", &value) == 1) window.longestNetGapMs = static_cast<long>(value);
    if (std::sscanf(line.text.c_str(), "window-net-gaps-over-50-ms %lld", &value) == 1) window.netGapsOver50Ms = static_cast<int>(value);
    if (std::sscanf(line.text.c_str(), "window-press-us %lld", &value) == 1) window.pressedAt = value;
  }
  window.timed = ParseLinkTiming(LineTexts(window), window.timing);
  return window;
}

}  // namespace bench
