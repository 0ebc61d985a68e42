// Files and recipes for the recipe tests: random images in a folder of the
// test's own, published as the tables' owner.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/sha256.h"
#include "line_server.h"
#include "recipes/recipe_store.h"

class TestFolder {
 public:
  TestFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tamsolt-recipes-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~TestFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  const std::string& Path() const { return path_; }

  // A file of size random bytes (seeded), returned with its path.
  std::string File(const std::string& name, std::size_t size, unsigned seed) const {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

 private:
  std::string path_;
};

// Publishes the files by kind (empty: row not enabled) as the owner; the version.
inline int PublishFiles(PgConnection& db, const std::string& name,
                        const std::array<std::string, 9>& files) {
  std::string why;
  EXPECT_TRUE(EnsureRecipeTables(db, why)) << why;
  RecipeVersion recipe;
  recipe.name = name;
  for (std::size_t kind = 0; kind < files.size(); ++kind) {
    if (files[kind].empty()) continue;
    std::string error;
    const std::optional<StoredImage> image = StoreImageFile(db, files[kind], error);
    EXPECT_TRUE(image) << error;
    if (image) recipe.rows[kind] = {true, std::filesystem::path(files[kind]).filename().string(), image->sha256,
                                    image->bytes};
  }
  std::string error;
  const std::optional<int> version = PublishVersion(db, recipe, "tester", error);
  EXPECT_TRUE(version) << error;
  return version.value_or(0);
}
