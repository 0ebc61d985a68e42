// tamsolt-sample-images [--small] DIR: writes a sample of every image kind
// into DIR, describes the files on standard error and prints the matching
// tamsolt-cli row arguments on standard output, one per line, for a script to
// pass on. --small: a few blocks of each, for tests that need every kind but
// not the demo's half minute of transfer.
#include <cstdio>
#include <filesystem>
#include <string>

#include "demo/sample_images.h"

int main(int argc, char** argv) {
  const bool small = argc == 3 && std::string(argv[1]) == "--small";
  if (argc != 2 + (small ? 1 : 0) || std::string(argv[argc - 1]).starts_with("-")) {
    std::fprintf(stderr,
                 "usage: %s [--small] DIR\n"
                 "Writes a sample image of every kind into DIR and prints the tamsolt-cli\n"
                 "row arguments for them on standard output, one per line. --small: a few\n"
                 "blocks of each kind instead of the demo's sizes.\n",
                 argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[argc - 1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "tamsolt-sample-images: cannot create %s: %s\n", dir.c_str(), error.message().c_str());
    return 1;
  }
  std::fprintf(stderr, "Sample images in %s:\n", dir.c_str());
  for (const SampleImage& image : MakeSampleImages(small ? SmallSampleSizes() : DemoSampleSizes())) {
    const std::filesystem::path path = dir / image.fileName;
    if (!WriteFileBytes(path, image.bytes)) {
      std::fprintf(stderr, "tamsolt-sample-images: cannot write %s\n", path.c_str());
      return 1;
    }
    std::fprintf(stderr, "  %-4s  %-14s %8zu bytes  %s\n", KindLabel(image.kind), image.fileName.c_str(),
                 image.bytes.size(), image.description.c_str());
    std::printf("%s\n%s\n", RowOption(image.kind).c_str(), path.c_str());
  }
  return 0;
}
