// --watch: a station that runs until stopped. The bus is looked at every
// 250 ms; each board that comes into an armed slot (supervisor/slot_book.h) is
// written in a child of its own (this program again), as --all does, in
// parallel with the others. --max-boards N takes exactly N boards (a board
// that left before its device was opened gives its place back). The first
// stop signal takes no new board and lets the running ones finish, also once
// the lot is reached; a second signal interrupts them as --all does.
#pragma once

#include <functional>
#include <string>

#include "recipes/recipe_source.h"
#include "supervisor/station_listeners.h"
#include "run/cli_options.h"

// The exit code: 0 every board of the session written, 1 any failed, 10
// interrupted, 11 all written but a record (log file or ledger) was lost.
// program: what each board's child runs (kThisProgram). boardEnded is called
// as each board's child ends. recipe (may be null): the recipe's version is
// taken again before each board, which is written from it; the board under
// way keeps the version it started with.
// listeners: what the line page's live rows hear (supervisor/station_listeners.h).
int WatchStation(const std::string& program, const CliOptions& options,
                 const std::function<void()>& boardEnded = {}, RecipeSource* recipe = nullptr,
                 StationListeners listeners = {});
