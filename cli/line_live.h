// The station's live rows for the line page: its slots as the supervisor
// shows them (with the names of the settings file's [slots]) and the recipe
// version it writes, handed to the line database's publisher.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "linedb/station_live.h"
#include "recipes/recipe_source.h"
#include "run/cli_options.h"
#include "supervisor/station_watch.h"

// A station's publisher (--watch, --all, a single run), or null without a line database (url);
// what it cannot write is told on standard error, once.
std::unique_ptr<StationLive> StationLiveFor(const CliOptions& options);

// The recipe version the options write now; away when firstTake (the run's
// first take of it) came from the image cache.
LiveRecipe LiveRecipeOf(const CliOptions& options, const std::optional<RecipeTake>& firstTake);

// The supervisor's listeners that keep live's rows (recipe: the version the
// station starts with); with no publisher none.
StationListeners LiveListeners(StationLive* live, const LiveRecipe& recipe);

// One slot-state as the live row keeps it; since: its time in this state ends now.
LiveSlot LiveSlotOf(const std::string& slot, const SlotLine& line, const std::string& name);

// A single run's board on the line page: the station's row and the board's
// slot (its hub port, else its address), writing with its item and
// percentage, then its outcome; the station is said stopped as it ends.
class LiveSingleRun {
 public:
  LiveSingleRun(std::unique_ptr<StationLive> live, const LiveRecipe& recipe, std::string device,
                std::string slot);
  void Writing(const std::string& item, int percent);
  // The run's exit code and the box that explains a failure ("" none); the
  // publisher ends with it (the station stopped), also on the way to an
  // interrupted run's exit.
  void Ended(int exitCode, const std::string& reason);

 private:
  std::unique_ptr<StationLive> live_;
  std::string device_;
  std::string slot_;
  std::string name_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};
