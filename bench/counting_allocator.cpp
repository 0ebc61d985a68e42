#include "bench/counting_allocator.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

namespace {

constexpr int kDepth = 10;     // frames kept per site
constexpr int kSkip = 2;       // Record and operator new themselves
constexpr int kMaxSites = 32;  // distinct sites kept; later ones are only counted

struct RawSite {
  std::array<void*, kDepth> frames{};
  int depth = 0;
  std::uint64_t count = 0;
  std::uint64_t midBlocks = 0;
};

// Plain static storage: nothing here may allocate while it counts.
bool g_on = false;
int g_paused = 0;
thread_local bool t_inside = false;
std::uint64_t g_count = 0;
std::uint64_t g_midBlocks = 0;
bench::BlockProbe g_probe = nullptr;
std::array<RawSite, kMaxSites> g_sites{};
int g_siteCount = 0;

void Record() {
  if (!g_on || g_paused > 0 || t_inside) return;
  t_inside = true;
  ++g_count;
  const bool mid = g_probe != nullptr && g_probe();
  if (mid) ++g_midBlocks;
  std::array<void*, kDepth + kSkip> stack{};
  const int got = backtrace(stack.data(), static_cast<int>(stack.size()));
  const int depth = std::max(0, got - kSkip);
  bool found = false;
  for (int i = 0; i < g_siteCount && !found; ++i) {
    RawSite& site = g_sites[static_cast<std::size_t>(i)];
    if (site.depth == depth && std::equal(site.frames.begin(), site.frames.begin() + depth, stack.begin() + kSkip)) {
      ++site.count;
      if (mid) ++site.midBlocks;
      found = true;
    }
  }
  if (!found && g_siteCount < kMaxSites) {
    RawSite& site = g_sites[static_cast<std::size_t>(g_siteCount++)];
    std::copy(stack.begin() + kSkip, stack.begin() + kSkip + depth, site.frames.begin());
    site.depth = depth;
    site.count = 1;
    site.midBlocks = mid ? 1 : 0;
  }
  t_inside = false;
}

void* Allocate(std::size_t size) {
  Record();
  if (size == 0) size = 1;
  void* p = std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  Record();
  const auto alignment = std::max(static_cast<std::size_t>(align), sizeof(void*));
  if (size == 0) size = 1;
  size = (size + alignment - 1) / alignment * alignment;
  void* p = std::aligned_alloc(alignment, size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

std::string Symbolise(void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_sname == nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", address);
    return text;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : info.dli_sname;
  std::free(demangled);
  return name;
}

// backtrace() loads its unwinder on first use, which allocates: do it before counting.
const bool g_warm = [] {
  std::array<void*, 2> stack{};
  backtrace(stack.data(), 2);
  return true;
}();

}  // namespace

namespace bench {

void CountAllocations(bool on) { g_on = on; }
AllocationPause::AllocationPause() { ++g_paused; }
AllocationPause::~AllocationPause() { --g_paused; }
void SetBlockProbe(BlockProbe probe) { g_probe = probe; }
std::uint64_t CountedAllocations() { return g_count; }
std::uint64_t CountedMidBlockAllocations() { return g_midBlocks; }

void ResetAllocationCount() {
  g_count = 0;
  g_midBlocks = 0;
  g_siteCount = 0;
}

std::vector<AllocationSite> AllocationSites() {
  const bool was = g_on;
  g_on = false;
  std::vector<AllocationSite> sites;
  for (int i = 0; i < g_siteCount; ++i) {
    const RawSite& raw = g_sites[static_cast<std::size_t>(i)];
    AllocationSite site;
    site.count = raw.count;
    site.midBlocks = raw.midBlocks;
    for (int f = 0; f < raw.depth; ++f) site.frames.push_back(Symbolise(raw.frames[static_cast<std::size_t>(f)]));
    sites.push_back(std::move(site));
  }
  std::sort(sites.begin(), sites.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
  g_on = was;
  return sites;
}

}  // namespace bench

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
