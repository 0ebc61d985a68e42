// tamsolt-verify-device SOURCES_DIR DEVICE_DIR: checks that the emulated
// device stored every sample image of SOURCES_DIR (as tamsolt-sample-images
// names them) in the form computed here from the source alone. One line per
// image, a one-line verdict; exit 0 only when every image matches.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/device_check.h"
#include "demo/sample_images.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]).starts_with("-")) {
    std::fprintf(stderr,
                 "usage: %s SOURCES_DIR DEVICE_DIR\n"
                 "SOURCES_DIR holds the files of tamsolt-sample-images, DEVICE_DIR the images\n"
                 "the emulated device stored (tamsolt-sim-run --out=DEVICE_DIR).\n"
                 "Exit 0 when every image matches, 1 when any does not, 2 on bad usage.\n",
                 argv[0]);
    return 2;
  }
  const std::filesystem::path sources = argv[1];
  const std::filesystem::path device = argv[2];
  std::vector<SourceFile> files;
  for (RowKind kind : kAllRowKinds) files.push_back({kind, sources / SampleFileName(kind)});

  std::printf("What the device stored in %s, against %s:\n", device.c_str(), sources.c_str());
  const std::vector<ImageFinding> findings = CheckDeviceImages(files, device);
  for (const ImageFinding& finding : findings) std::printf("  %s\n", finding.line.c_str());
  std::printf("%s\n", Verdict(findings).c_str());
  return AllMatch(findings) ? 0 : 1;
}
