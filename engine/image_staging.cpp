#include "engine/image_staging.h"

#include <new>

namespace {

StagingBuffer AllocateFromHeap(std::size_t size) {
  return StagingBuffer(new (std::nothrow) std::uint8_t[size]);
}

StagingAllocator g_allocator = &AllocateFromHeap;

}  // namespace

StagingBuffer AllocateStaging(std::size_t size) { return g_allocator(size); }

void SetStagingAllocator(StagingAllocator allocator) {
  g_allocator = allocator != nullptr ? allocator : &AllocateFromHeap;
}
