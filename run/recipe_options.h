// The recipe options of tamsolt-cli: the commands that publish, activate and
// list recipes in the line database (--publish, --activate, --recipes) and a
// run on a recipe (--recipe, --image-cache). Parsed before the other options.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct RecipeOptions {
  std::optional<std::string> publish;                      // --publish NAME
  std::optional<std::string> note;                         // --note TEXT
  std::optional<std::pair<std::string, int>> activate;     // --activate NAME VERSION
  bool list = false;                                       // --recipes
  std::string name;         // --recipe NAME; [line] recipe= of the settings file when not given
  std::string cacheFolder;  // --image-cache DIR
  // --recipe-version NAME:VERSION:ROWS-SHA256, given by --all and --watch to
  // each child: the version its parent took, read from the cache (never from
  // the database) and written only when its rows there are still those.
  std::optional<std::pair<std::string, int>> taken;
  std::string takenDigest;

  // --publish, --activate or --recipes: no device is written.
  bool Command() const { return publish || activate || list; }
};

enum class RecipeParse { kNotMine, kTaken, kError };

// Takes args[i] (and its values, advancing i) when it is a recipe option.
RecipeParse ParseRecipeOption(const std::vector<std::string>& args, std::size_t& i, RecipeOptions& options,
                              std::string& error);

// The combinations that make no sense; false with the reason in error.
// rowsNamed: row options are given; otherCommand: a ledger command, --all,
// --list or --watch is.
bool CheckRecipeOptions(const RecipeOptions& options, bool rowsNamed, bool otherCommand, std::string& error);

// The options' part of --help.
std::string RecipeUsage();
