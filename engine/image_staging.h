// The temporary buffer that a BOOT or HOST start reads the raw file into
// before the payload is copied to fileBuffer. The allocation can be replaced,
// so the out-of-memory path can be exercised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

inline constexpr std::size_t kBatchStagingSize = 1048576;  // batch: BOOT and HOST
inline constexpr std::size_t kBootStagingSize = 1048576;   // single BOOT
inline constexpr std::size_t kHostStagingSize = 2097152;   // single HOST

using StagingBuffer = std::unique_ptr<std::uint8_t[]>;
using StagingAllocator = StagingBuffer (*)(std::size_t size);

// Null when the memory cannot be had.
StagingBuffer AllocateStaging(std::size_t size);
// Replaces the allocation; null restores the ordinary one.
void SetStagingAllocator(StagingAllocator allocator);
