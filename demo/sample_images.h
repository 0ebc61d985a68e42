// A deterministic sample of every image kind, for a demo batch against the
// emulated device: same sizes and bytes on every run and every machine.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/expected_images.h"

// Sizes of the sample set. The device's pacing decides them: a 44-byte chunk
// (BOOT, HOST) or a 53-byte short block (RCDB, FV) costs about as long as a
// whole 2048-byte data block (FONT, LANG, BMP, PIC), some 5 to 10 ms against
// the emulated device, so the chunked kinds are kept to tens of KiB and the
// block kinds get hundreds; the demo's batch takes about half a minute.
struct SampleSizes {
  std::size_t bootPayload = 0;
  std::size_t hostPayload = 0;
  std::size_t rcdbBlocks = 0;  // whole 53-byte short blocks
  std::size_t font = 0;
  std::size_t lang = 0;
  std::size_t fvBlocks = 0;  // whole 53-byte short blocks
  int pictureWidth = 0;
  int pictureHeight = 0;
  std::size_t pic = 0;
  std::size_t testData = 0;  // behind the 256-byte header, at most 1007
};

// The demo's sizes: a full-size picture, the most test data the tool takes.
SampleSizes DemoSampleSizes();
// A few chunks or blocks of each kind, odd sizes and an odd picture: the same
// recipe in well under a second of transfer, for tests.
SampleSizes SmallSampleSizes();

struct SampleImage {
  RowKind kind;
  std::string fileName;
  std::string description;
  Bytes bytes;
};

// The nine files, in batch order.
std::vector<SampleImage> MakeSampleImages(const SampleSizes& sizes);

// The file name of a kind's sample in the folder the generator writes.
std::string SampleFileName(RowKind kind);

// "--boot", "--host", ...: the tamsolt-cli option naming the kind's row.
std::string RowOption(RowKind kind);
