// tamsolt-bench-line-publishers: stations publishing their live rows as a
// busy line does, for the line page's figures (bench/line_questions.sh).
//
//   tamsolt-bench-line-publishers URL [--stations N] [--slots N] [--seconds N]
//
// N stations (station-01, ...), each a publisher of its own with its own
// connection and thread, as every station runs one; each of their slots
// changes once a second, the changes spread evenly over the second. A
// change's item is the wall clock in milliseconds when it was handed over,
// so a page that shows it can tell how long it took to get there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "linedb/station_live.h"

namespace {

int Number(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value > 0 && value < 100000 ? static_cast<int>(value) : 0;
}

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL [--stations N] [--slots N] [--seconds N]\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1];
  int stations = 20, slots = 16, seconds = 30;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    int* into = option == "--stations" ? &stations
                : option == "--slots"  ? &slots
                : option == "--seconds" ? &seconds
                                        : nullptr;
    if (into == nullptr || (*into = Number(argv[i + 1])) == 0) {
      std::fprintf(stderr, "%s: %s wants a number above 0\n", argv[0], argv[i]);
      return 2;
    }
  }
  std::vector<std::unique_ptr<StationLive>> live;
  for (int s = 1; s <= stations; ++s) {
    live.push_back(std::make_unique<StationLive>(url, "station-" + Two(s), "bench", [](const std::string& text) {
      std::fprintf(stderr, "publisher: %s\n", text.c_str());
    }));
  }
  using Clock = std::chrono::steady_clock;
  const int changes = stations * slots;
  const auto step = std::chrono::microseconds(1'000'000 / changes);
  const Clock::time_point start = Clock::now();
  long handed = 0;
  for (long k = 0; k < static_cast<long>(changes) * seconds; ++k) {
    std::this_thread::sleep_until(start + k * step);
    const int station = static_cast<int>(k % stations);
    const int slot = static_cast<int>(k / stations % slots) + 1;
    LiveSlot change;
    change.slot = "1-1." + std::to_string(slot);
    change.name = "A" + std::to_string(slot);
    change.state = "writing";
    change.present = change.taken = true;
    change.item = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
    change.percent = static_cast<int>(k / changes % 100);
    change.text = "writing " + change.item + " " + std::to_string(change.percent) + "%";
    change.sinceUtc = LiveUtc(std::chrono::system_clock::now());
    live[station]->SetSlot(change);
    ++handed;
  }
  bool written = true;
  for (auto& publisher : live) written = publisher->WaitWritten(std::chrono::seconds(5)) && written;
  std::printf("%ld changes handed over by %d stations of %d slots in %d s%s\n", handed, stations, slots, seconds,
              written ? "" : "; some were not written within 5 s of the end");
  return written ? 0 : 1;
}
