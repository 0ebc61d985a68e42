// The soak: batch after batch of drawn rows on one process, one link and one
// virtual clock, each against a fresh emulated device with drawn faults.
// After every batch exactly one of two outcomes must hold:
//   written - S0050 shown, every image on the device byte for byte, each
//             start and completion line logged once;
//   failed  - S0052, S0051 or a link message shown, no S0050, and no
//             completion line for an item the device does not hold exactly.
// Either way busy is clear, no timer is armed, both counters are zero and the
// link is either fully open or fully closed with no handle left behind; the
// heap does not grow from batch to batch.
//
// Usage: tamsolt_soak COUNT SEED. Batch i draws from seed SEED + i; a failing
// batch prints its seed, and `tamsolt_soak 1 SEED` replays it alone.
#include <malloc.h>

#include <new>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bmp_files.h"
#include "engine/batch.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "fake_host.h"
#include "fault_draw.h"
#include "sim/inprocess_usb.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_UNDER_ASAN 1
#endif
#ifdef SOAK_UNDER_ASAN
// From the sanitizer runtime (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#ifndef SOAK_UNDER_ASAN
// Bytes held through operator new, exactly: the allocator's own statistics
// also count freed blocks it keeps cached per thread. (Under ASan its
// allocator answers the same question.)
static std::size_t g_liveBytes = 0;

void* operator new(std::size_t n) {
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  g_liveBytes += malloc_usable_size(p);
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  g_liveBytes -= malloc_usable_size(p);
  std::free(p);
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
#endif

namespace {

constexpr const char* kImageNames[kKindCount] = {"boot", "host", "rcdb", "font", "lang",
                                                 "fv",   "bmp",  "pic",  "tdb"};
constexpr std::size_t kTickBudget = 1'000'000;  // the fake window's own guard is larger
constexpr std::size_t kHeapSlack = 4 * 1024;  // what a failed batch leaves queued for the next press

std::size_t HeapInUse() {
#ifdef SOAK_UNDER_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return g_liveBytes;
#endif
}

// The rows of one batch and what the device must hold for each.
struct Batch {
  std::array<bool, kKindCount> enabled{};
  std::array<Bytes, kKindCount> expected{};
  std::array<bool, kKindCount> shortBlocks{};  // no stated length: the last block is padded
  int frames = 2;                              // begin and end
};

Batch DrawBatch(std::mt19937& rng, const std::string& dir, FakeHost& host) {
  Batch batch;
  // As many single-row batches as full ones: each kind gets its turn as the
  // first item, which alone meets the begin and a restart.
  std::array<std::uint8_t, kKindCount> kinds{0, 1, 2, 3, 4, 5, 6, 7, 8};
  std::shuffle(kinds.begin(), kinds.end(), rng);
  const int rows = Uniform(rng, 1, kKindCount);
  for (int i = 0; i < rows; ++i) batch.enabled[kinds[i]] = true;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (!batch.enabled[kind]) {
      host.Row(kind, "", false);
      continue;
    }
    const auto seed = static_cast<std::uint32_t>(rng());
    Bytes file;
    Bytes& expected = batch.expected[kind];
    switch (kind) {
      case kKindBoot:
      case kKindHost: {
        file = ImageFile(130 + static_cast<std::size_t>(Uniform(rng, 1, 1200)),
                         static_cast<std::uint8_t>(Uniform(rng, 0, 1)), 0, 0, seed);
        expected = Scrambled(Slice(file, 128, file.size() - 130), XorKeyB);
        batch.frames += static_cast<int>((expected.size() + 43) / 44);
        break;
      }
      case kKindRcdb:
      case kKindFv:
        file = Pattern(static_cast<std::size_t>(Uniform(rng, 1, 2500)), seed);
        expected = kind == kKindRcdb ? Scrambled(file, XorKeyB) : file;
        batch.shortBlocks[kind] = true;
        batch.frames += static_cast<int>((file.size() + 52) / 53);
        break;
      case kKindBmp: {
        Picture picture(static_cast<std::size_t>(Uniform(rng, 1, 40)),
                        std::vector<Rgb>(static_cast<std::size_t>(Uniform(rng, 1, 50))));
        for (auto& row : picture) {
          for (Rgb& px : row) px = Rgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                       static_cast<std::uint8_t>(rng())};
        }
        file = MakeBmp(picture, BmpLayout{});
        expected = DevicePicture(picture);
        batch.frames += static_cast<int>((expected.size() + 2047) / 2048);
        break;
      }
      case kKindTdb:
        file = Pattern(256 + static_cast<std::size_t>(Uniform(rng, 0, 1007)), seed);
        expected = Slice(file, 256, file.size() - 256);
        batch.frames += static_cast<int>((expected.size() + 52) / 53);
        break;
      default:  // FONT, LANG, PIC: whole 2048-byte blocks
        file = Pattern(static_cast<std::size_t>(Uniform(rng, 1, 6000)), seed);
        expected = kind == kKindLang ? file : Scrambled(file, XorKeyB);
        batch.frames += static_cast<int>((file.size() + 2047) / 2048);
        break;
    }
    const std::string path = dir + "/" + kImageNames[kind];
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
      std::fwrite(file.data(), 1, file.size(), out);
      std::fclose(out);
    }
    host.Row(kind, path);
  }
  return batch;
}

bool HoldsExactly(const sim::DeviceModel& model, const Batch& batch, std::uint8_t kind) {
  const auto& images = model.Images();
  const auto found = images.find(kImageNames[kind]);
  const Bytes none;
  const Bytes& held = found == images.end() ? none : found->second;
  const Bytes& want = batch.expected[kind];
  if (!batch.shortBlocks[kind] || held.size() == want.size()) return held == want;
  return held.size() > want.size() && held.size() < want.size() + 53 &&
         std::equal(want.begin(), want.end(), held.begin());
}

// Message numbers of the log: start S0032 + kind, completion S0041 + kind.
int LineNumber(const std::string& line) {
  if (line.size() != 8 + 3 || line[8] != 'M') return -1;
  return std::atoi(line.c_str() + 9);
}

std::vector<std::string> Check(const Batch& batch, const DrawnFaults& drawn, const FakeHost& host,
                               const sim::DeviceModel& model) {
  std::vector<std::string> problems;
  const auto expect = [&](bool holds, const std::string& what) {
    if (!holds) problems.push_back(what);
  };
  bool done = false, failed = false;
  for (const FakeHost::Box& box : host.boxes) {
    if (box.text == Text(50)) done = true;
    else if (box.title != "超时重发") failed = true;  // S0052, S0051 or a link message
  }
  expect(done != failed, done ? "S0050 and a failure both shown" : "neither S0050 nor a failure shown");

  std::set<std::string> seen;
  std::set<std::uint8_t> completed;
  for (const std::string& line : host.logLines) {
    const std::string text = line.size() >= 8 ? line.substr(8) : line;
    expect(seen.insert(text).second, "log line " + text + " written twice");
    const int number = LineNumber(line);
    if (number >= 41 && number <= 49) completed.insert(static_cast<std::uint8_t>(number - 41));
  }
  for (std::uint8_t kind : completed) {
    expect(batch.enabled[kind], std::string("completion line for ") + kImageNames[kind] + ", not in the batch");
    expect(HoldsExactly(model, batch, kind),
           std::string("completion line for ") + kImageNames[kind] + ", which the device does not hold exactly");
  }
  if (done) {
    for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
      if (!batch.enabled[kind]) continue;
      expect(HoldsExactly(model, batch, kind), std::string("S0050 but ") + kImageNames[kind] + " not exact");
      expect(completed.count(kind) == 1, std::string("S0050 without the completion line of ") + kImageNames[kind]);
    }
    expect(g_transfer.m_dev == nullptr, "link left open after S0050");
  }
  if (drawn.recoverable) expect(done, "a recoverable mix of faults ended in failure");

  // A clean start: whatever the batch before left, the press opens with a begin.
  const std::vector<SentFrame> sent = SentFrames();
  expect(sent.empty() || sent.front().code == 0x43 || sent.front().code == 0x49,
         "the batch did not open with a begin");

  const sim::UsbCalls& calls = sim::RecordedCalls();
  expect(g_transfer.busy == 0, "busy still set");
  expect(!host.AnyTimerArmed(), "a timer still armed");
  expect(g_transfer.pollCount == 0 && g_transfer.retryCount == 0, "counters not back at zero");
  expect(calls.openHandles == (g_transfer.m_dev != nullptr ? 1 : 0), "device handles left behind");
  expect((g_transfer.m_dev != nullptr) == (g_transfer.interfaceClaimed != 0), "link half open");
  expect(calls.badHandleCalls == 0, "a call on a closed handle");
  expect(host.maxNesting <= 1, "a timer tick inside another");
  expect(host.ticks.size() < kTickBudget, "the state machine kept ticking");
  return problems;
}

struct Tally {
  int batches = 0, written = 0, failedAsReported = 0, broken = 0;
  std::array<int, kFaultKinds> faults{};
  std::size_t heapAfterWarmUp = 0, heapHighest = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s COUNT SEED\n", argv[0]);
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  const unsigned long long seed = std::strtoull(argv[2], nullptr, 10);
  const auto started = std::chrono::steady_clock::now();

  char pattern[] = "/tmp/tamsolt-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::string dir = pattern;
  WriteMessageTable(dir);
  sim::VirtualClock clock;
  sim::InstallInProcessDevice(nullptr, &clock);

  Tally tally;
  const long warmUp = std::min<long>(20, count / 4);
  for (long i = 0; i < count; ++i) {
    const unsigned long long batchSeed = seed + static_cast<unsigned long long>(i);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(batchSeed));
    std::vector<std::string> problems;
    DrawnFaults drawn;
    {
      FakeHost host(clock);
      const Batch batch = DrawBatch(rng, dir, host);
      drawn = DrawFaults(rng, batch.frames);
      sim::DeviceModel model(drawn.faults, "");
      sim::ReplaceInProcessModel(&model);
      OnBatchDownload();
      host.RunUntilIdle();
      problems = Check(batch, drawn, host, model);
      sim::ReplaceInProcessModel(nullptr);
      ++tally.batches;
      bool done = false;
      for (const auto& box : host.boxes) done = done || box.text == Text(50);
      (done ? tally.written : tally.failedAsReported) += 1;
    }
    for (int k = 0; k < kFaultKinds; ++k) tally.faults[k] += drawn.drawn[k] ? 1 : 0;
    if (!problems.empty()) {
      ++tally.broken;
      std::printf("FAIL batch %ld, seed %llu (replay: tamsolt_soak 1 %llu), device%s\n", i, batchSeed,
                  batchSeed, drawn.Describe().c_str());
      for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
    }
    const std::size_t heap = HeapInUse();
    if (i + 1 == warmUp) tally.heapAfterWarmUp = heap;
    if (i + 1 > warmUp) tally.heapHighest = std::max(tally.heapHighest, heap);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("soak: %d batches from seed %llu: %d written, %d failed as reported, %d broken; %.2f s wall\n",
              tally.batches, seed, tally.written, tally.failedAsReported, tally.broken, seconds);
  std::printf("faults drawn:");
  for (int k = 0; k < kFaultKinds; ++k) std::printf(" %s %d", FaultName(k), tally.faults[k]);
  std::printf("\nheap in use: %zu bytes after %ld batches, at most %zu after\n", tally.heapAfterWarmUp,
              warmUp, tally.heapHighest);
  const bool heapGrew = warmUp > 0 && tally.heapHighest > tally.heapAfterWarmUp + kHeapSlack;
  if (heapGrew) std::printf("FAIL heap grew by more than %zu bytes\n", kHeapSlack);
  return tally.broken == 0 && !heapGrew ? 0 : 1;
}
