// What refuses an enabled row at the press of the batch button, before any
// device is touched: an empty path, a missing file, a boot or host image
// without the expected tag, a file the device cannot take. The press shows
// it as a box; publishing a recipe refuses the row with the same text, so a
// version published is one every station can write.
#pragma once

#include <cstdint>
#include <string>

#include "engine/image_files.h"
#include "record/transfer_context.h"

struct PressRefusal {
  int message = 0;   // a message table number, or 0
  ImageCheck image;  // else what the file itself is refused for
  bool ok() const { return message == 0 && image.ok(); }
};

// header receives a boot or host image's header (it is sent with the image).
PressRefusal CheckRowAtPress(std::uint8_t kind, const std::string& path, std::uint8_t expectedTag,
                             std::uint8_t (&header)[kImageHeaderSize]);

// The refusal as its box says it.
std::string PressRefusalText(std::uint8_t kind, const PressRefusal& refusal);
