// Compares the images that the emulated device stored (the runner's --out
// folder) with what their source files demand, one finding per image.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "demo/expected_images.h"

struct SourceFile {
  RowKind kind;
  std::filesystem::path path;
};

struct ImageFinding {
  RowKind kind;
  bool matches = false;
  std::string line;  // for the operator, without a line break
};

// One image: `stored` is what the device holds, nullopt when it stored none.
ImageFinding CompareImage(RowKind kind, const std::string& sourceName, const ExpectedImage& expected,
                          const std::optional<Bytes>& stored);

// Every source against <deviceDir>/<name>.bin, in the order given.
std::vector<ImageFinding> CheckDeviceImages(const std::vector<SourceFile>& sources,
                                            const std::filesystem::path& deviceDir);

// One line: all matched, or how many did not.
std::string Verdict(const std::vector<ImageFinding>& findings);
bool AllMatch(const std::vector<ImageFinding>& findings);
