// A run on a recipe (--recipe NAME, or recipe= in section [line] of the
// settings file): the version taken before the board (or, in a child of
// --all and --watch, the one its parent took), its rows the cache's files,
// each pinned to the recipe's digest so a file changed in the cache is
// refused at the press and again as it is loaded.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "recipes/recipe_source.h"
#include "run/cli_options.h"

// The recipe this run writes: --recipe, else [line] recipe= (the settings
// file must be in use); "" for none.
std::string RecipeNameFor(const CliOptions& options);

// Makes options write version of recipe from the cache at cacheFolder: the
// rows, the pins, and the name and version every record carries.
void UseRecipeVersion(CliOptions& options, const RecipeVersion& recipe, const std::string& cacheFolder);

// Before a run: a child's version loaded from the cache, or the recipe's
// version taken (for a single run, --all; --watch takes again before each
// board through the source returned), first being that take, to be told
// once the run has started. 0 to go on, else the exit code (2 row options
// beside a recipe of the settings file, 10 stopped, 12 no version can be
// written), said as the run's reason.
int PrepareRecipeRun(CliOptions& options, std::unique_ptr<RecipeSource>& source,
                     std::optional<RecipeTake>& first);

// Tells a take: the switch to another version, the first time the line
// database is away and the first time it answers again (a log line, or the
// event recipe, whose away is then false); nothing otherwise.
// note: where the text goes (a single run's log, the station's notes).
void TellRecipeTake(const RecipeTake& take, std::optional<int> previous,
                    const std::function<void(const std::string&)>& note);

// After --wait: the version taken again now that the board is there, so that
// an activation or a rollback during the wait holds for it; told as a switch
// when it is another; take: the take. 0 to go on, else the exit code (10, 12).
int RetakeRecipeAfterWait(CliOptions& options, RecipeSource& source,
                          const std::function<void(const std::string&)>& note,
                          std::optional<RecipeTake>& take);
