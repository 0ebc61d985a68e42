// A recipe: under a name, numbered versions of the nine rows a station
// writes, each enabled row naming its image by SHA-256. Plain data, shared
// by the line database's tables (recipe_store.h) and the station's cache
// (image_cache.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct RecipeRow {
  bool enabled = false;
  std::string fileName;  // the file's name when it was published
  std::string sha256;    // 64 lower-case hex digits; empty when not enabled
  std::uint64_t bytes = 0;
};

struct RecipeVersion {
  std::string name;
  int version = 0;
  std::array<RecipeRow, 9> rows;  // by item: BOOT ... TDB
  // As listed by --recipes; not kept in the station's cache.
  std::string createdUtc;
  std::string createdBy;
  std::string note;
  bool active = false;
  std::string activatedUtc;
  std::string activatedBy;
};

// Letters, digits, '.', '_' and '-', 1 to 64, not starting with '.', '_' or
// '-': a name is also a folder of the station's cache.
bool IsRecipeName(std::string_view name);

// At least one row enabled: a version with none would write nothing beside
// whatever else is set, and is never taken.
bool HasEnabledRow(const RecipeVersion& recipe);

// "line3 version 7"
std::string RecipeLabel(const std::string& name, int version);
