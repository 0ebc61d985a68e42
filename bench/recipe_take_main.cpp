// tamsolt-bench-recipe URL FOLDER: what a station on a recipe pays. The
// reference batch's nine images are published as a recipe into the line
// database at URL (as its owner), then a station with an empty image cache
// takes that version (every image fetched in pieces and its digest checked),
// then takes it again unchanged. Prints the wall time of each take and the
// bytes the process read for it (/proc/self/io rchar: files and socket).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/reference_batch.h"
#include "recipes/recipe_source.h"
#include "recipes/recipe_store.h"

namespace {

long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "tamsolt-bench-recipe: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: tamsolt-bench-recipe URL FOLDER");
  const std::string url = argv[1];
  const std::string folder = argv[2];
  std::filesystem::create_directories(folder + "/images");
  const bench::ReferenceBatch batch = bench::WriteReferenceBatch(folder + "/images", 1);
  PgConnection db(url);
  std::string why;
  if (!db.Ok() || !EnsureRecipeTables(db, why)) return Fail(db.Ok() ? why : db.Error());
  RecipeVersion recipe;
  recipe.name = "bench";
  std::uint64_t total = 0;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    std::string error;
    const std::optional<StoredImage> image = StoreImageFile(db, batch.paths[kind], error);
    if (!image) return Fail(error);
    recipe.rows[kind] = {true, std::filesystem::path(batch.paths[kind]).filename().string(), image->sha256,
                         image->bytes};
    total += image->bytes;
  }
  std::string error;
  const std::optional<int> version = PublishVersion(db, recipe, "bench", error);
  if (!version) return Fail(error);

  RecipeSource source("bench", url, folder + "/cache", -1);
  using Clock = std::chrono::steady_clock;
  const auto take = [&source](const char* what) {
    const long long before = BytesRead();
    const Clock::time_point start = Clock::now();
    const RecipeTake taken = source.Take();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long long read = BytesRead() - before;
    std::printf("%-44s %8.3f s  %2d image(s) fetched  %10lld bytes read\n", what, seconds, taken.fetched, read);
    return taken.end == RecipeTake::End::kTaken;
  };
  std::printf("recipe of the reference batch: 9 images, %llu bytes, version %d\n",
              static_cast<unsigned long long>(total), *version);
  if (!take("a new version (empty cache, digests checked)")) return Fail("the first take failed");
  if (!take("the same version again (a board)")) return Fail("the second take failed");
  if (!take("the same version again (another board)")) return Fail("the third take failed");
  return 0;
}
