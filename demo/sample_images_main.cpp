// tamsolt-sample-images DIR: writes a sample of every image kind into DIR,
// describes the files on standard error and prints the matching tamsolt-cli
// row arguments on standard output, one per line, for a script to pass on.
#include <cstdio>
#include <filesystem>
#include <string>

#include "demo/sample_images.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).starts_with("-")) {
    std::fprintf(stderr,
                 "usage: %s DIR\n"
                 "Writes a sample image of every kind into DIR and prints the tamsolt-cli\n"
                 "row arguments for them on standard output, one per line.\n",
                 argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "tamsolt-sample-images: cannot create %s: %s\n", dir.c_str(), error.message().c_str());
    return 1;
  }
  std::fprintf(stderr, "Sample images in %s:\n", dir.c_str());
  for (const SampleImage& image : MakeSampleImages(DemoSampleSizes())) {
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
