// Counts the heap allocations made while counting is switched on, and keeps
// the call stacks of the first distinct places that allocated, so a figure of
// "allocations in the block loops" can name where they come from. Linking
// counting_allocator.cpp replaces the program's operator new.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Switches counting on or off (the block loops switch it on).
void CountAllocations(bool on);
// Pauses counting for what is not part of the program being measured (the
// emulated device behind the in-process libusb); nests.
class AllocationPause {
 public:
  AllocationPause();
  ~AllocationPause();
  AllocationPause(const AllocationPause&) = delete;
  AllocationPause& operator=(const AllocationPause&) = delete;
};

// Tells, at the moment of an allocation, whether the program is in the middle
// of an image's blocks (rather than starting or finishing an item).
using BlockProbe = bool (*)();
void SetBlockProbe(BlockProbe probe);

struct AllocationSite {
  std::uint64_t count = 0;
  std::uint64_t midBlocks = 0;  // of them, made in the middle of an image's blocks
  std::vector<std::string> frames;  // innermost first, symbolised
};

std::uint64_t CountedAllocations();
std::uint64_t CountedMidBlockAllocations();
// The distinct places that allocated while counting, most frequent first.
std::vector<AllocationSite> AllocationSites();
void ResetAllocationCount();

}  // namespace bench
