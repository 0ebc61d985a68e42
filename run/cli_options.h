// The command line of tamsolt-cli.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "link/device_choice.h"
#include "run/ledger_options.h"
#include "run/recipe_options.h"

struct CliOptions {
  // Rows named on the command line, by kind; all empty: the rows of setting.ini.
  std::array<std::optional<std::string>, 9> rows;
  std::string settingsFile;  // --settings: another setting.ini
  std::optional<DeviceAddress> device;
  std::optional<double> waitSeconds;
  double settleSeconds = 2;  // --all --wait: how long no new device must appear
  bool settled = false;  // --settle given
  std::string logFile;
  bool list = false;
  bool all = false;
  bool help = false;
  bool json = false;
  bool watch = false;        // --watch: a station that runs until stopped
  double rearmAfter = 3;     // --watch: seconds a slot whose board left before its outcome stays empty before it takes a board
  long maxBoards = 0;        // --watch: stop after this many boards (0: no limit)
  LedgerOptions ledger;  // --ledger, --no-ledger, --report, --export, --pin
  RecipeOptions recipe;  // --publish, --activate, --recipes, --recipe, --image-cache

  bool RowsNamed() const;
};

// Parses the arguments (without the program's name). False with the reason in error.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error);

// The arguments a child of --all gets: the rows, settings and log file of
// options, and the device it writes; boardUuid: its board's row in the ledger.
std::vector<std::string> ChildArguments(const CliOptions& options, const DeviceAddress& device,
                                        const std::string& boardUuid = {});

std::string CliUsage();
