// The reference batch: one file of every kind, written into a folder. The
// sizes are chosen so that one run of the whole batch takes about three
// minutes on the emulated device; a divisor shrinks them for a quick check.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "record/transfer_context.h"

namespace bench {

struct ReferenceBatch {
  std::string folder;
  std::array<std::string, kKindCount> paths;  // by kind
  std::array<std::size_t, kKindCount> sizes;  // file sizes in bytes
};

// Writes the nine files into folder (which must exist). divisor 1 is the
// reference batch; larger divisors shrink every image but the picture and the
// batch-write file.
ReferenceBatch WriteReferenceBatch(const std::string& folder, unsigned divisor);

}  // namespace bench
