// What a station on a recipe writes: before each board, the active version
// of its recipe from the line database, its images fetched once into the
// cache and checked against their digests; without the database, the last
// version the cache holds whole; never a version held only in part.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "linedb/pg_connection.h"
#include "recipes/image_cache.h"
#include "recipes/recipe.h"

struct RecipeTake {
  enum class End {
    kTaken,    // the active version, every image held
    kAway,     // the line database cannot be used: the last version held whole
    kRefused,  // no version can be written (reason)
    kStopped,  // a stop signal ended a wait
  };
  End end = End::kRefused;
  std::optional<RecipeVersion> recipe;
  std::string reason;        // kAway: why the database could not be used; kRefused: why nothing is written
  bool switched = false;     // another version than the one taken before (or the first)
  bool awayIsNew = false;    // kAway: the first since the database last answered
  bool backIsNew = false;    // kTaken: the first since the database was away
  int fetched = 0;           // images fetched into the cache for this take
  bool askedDatabase = false;  // false: away, and asked too recently to ask again
};

// While the line database is away it is asked again at most this often: a
// database that does not answer costs a board its connect time-out (2 s)
// once in this period, not every board.
inline constexpr std::chrono::seconds kRecipeAwayRetry{10};

class RecipeSource {
 public:
  // url: the line database's connection string ("" : the cache alone).
  // stopFd: readable ends every wait (the program's stop signals).
  using Clock = std::chrono::steady_clock;
  RecipeSource(std::string name, std::string url, std::string cacheFolder, int stopFd,
               std::function<Clock::time_point()> now = Clock::now);
  RecipeSource(const RecipeSource&) = delete;
  RecipeSource& operator=(const RecipeSource&) = delete;

  RecipeTake Take();
  const std::string& Name() const { return name_; }
  ImageCache& Cache() { return cache_; }

 private:
  // The active version with its images cached; nothing with error set when
  // the database could not be used, with refusal set when it says no.
  std::optional<RecipeVersion> FromDatabase(RecipeTake& take, std::string& error, std::string& refusal);
  RecipeTake Finish(RecipeTake take);

  std::string name_;
  std::string url_;
  ImageCache cache_;
  int stopFd_;
  bool stopped_ = false;  // this take's wait ended at a stop
  std::optional<int> lastTaken_;
  bool away_ = false;
  std::function<Clock::time_point()> now_;
  Clock::time_point lastAsked_{};
  std::string awayReason_;  // why the database could not be used when it was last asked
};
