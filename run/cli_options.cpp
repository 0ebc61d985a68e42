#include "run/cli_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "events/exit_codes.h"
#include "record/transfer_context.h"

namespace {

// "--boot", "--host", ... in kind order.
std::string RowOption(std::uint8_t kind) {
  std::string name = KindName(kind);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "--" + name;
}

std::optional<std::uint8_t> RowKindOf(const std::string& option) {
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (option == RowOption(kind)) return kind;
  }
  return std::nullopt;
}

bool TakesValue(const std::string& option) {
  return RowKindOf(option) || option == "--settings" || option == "--device" ||
         option == "--wait" || option == "--settle" || option == "--log-file" ||
         option == "--rearm-after" || option == "--max-boards";
}

bool ParseSeconds(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && seconds >= 0 && seconds <= 86400;
}

// "1:4" becomes "001:004", the label --list and --all use.
DeviceAddress Padded(const DeviceAddress& address) {
  char text[32];
  std::snprintf(text, sizeof text, "%03lu:%03lu", std::strtoul(address.bus.c_str(), nullptr, 10),
                std::strtoul(address.device.c_str(), nullptr, 10));
  return *ParseDeviceAddress(text);
}

bool SetValue(const std::string& option, const std::string& value, CliOptions& options,
              std::string& error) {
  if (value.empty()) {
    error = option + " needs a value";
    return false;
  }
  if (const auto kind = RowKindOf(option)) {
    if (options.rows[*kind]) {
      error = option + " is given twice";
      return false;
    }
    options.rows[*kind] = value;
  } else if (option == "--settings") {
    options.settingsFile = value;
  } else if (option == "--device") {
    options.device = ParseDeviceAddress(value);
    if (!options.device) {
      error = "--device wants BUS:ADDR, as --list prints it, not \"" + value + "\"";
      return false;
    }
    options.device = Padded(*options.device);
  } else if (option == "--wait") {
    double seconds = 0;
    if (!ParseSeconds(value, seconds)) {
      error = "--wait wants seconds from 0 to 86400, not \"" + value + "\"";
      return false;
    }
    options.waitSeconds = seconds;
  } else if (option == "--settle") {
    if (!ParseSeconds(value, options.settleSeconds)) {
      error = "--settle wants seconds from 0 to 86400, not \"" + value + "\"";
      return false;
    }
    options.settled = true;
  } else if (option == "--rearm-after") {
    if (!ParseSeconds(value, options.rearmAfter)) {
      error = "--rearm-after wants seconds from 0 to 86400, not \"" + value + "\"";
      return false;
    }
  } else if (option == "--max-boards") {
    char* end = nullptr;
    options.maxBoards = std::strtol(value.c_str(), &end, 10);
    if (end != value.c_str() + value.size() || options.maxBoards < 1) {
      error = "--max-boards wants a number of boards from 1, not \"" + value + "\"";
      return false;
    }
  } else if (option == "--log-file") {
    options.logFile = value;
  }
  return true;
}

}  // namespace

bool CliOptions::RowsNamed() const {
  for (const auto& row : rows) {
    if (row) return true;
  }
  return false;
}

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    // The ledger's options (run/ledger_options.cpp).
    if (const LedgerParse ledger = ParseLedgerOption(args, i, options.ledger, error);
        ledger != LedgerParse::kNotMine) {
      if (ledger == LedgerParse::kError) return false;
      continue;
    }
    // The recipe options (run/recipe_options.cpp).
    if (const RecipeParse recipe = ParseRecipeOption(args, i, options.recipe, error);
        recipe != RecipeParse::kNotMine) {
      if (recipe == RecipeParse::kError) return false;
      continue;
    }
    std::string option = args[i];
    std::optional<std::string> value;
    if (const auto equals = option.find('='); option.rfind("--", 0) == 0 &&
                                              equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.erase(equals);
    }
    if (TakesValue(option)) {
      if (!value) {
        if (i + 1 == args.size()) {
          error = option + " needs a value";
          return false;
        }
        value = args[++i];
      }
      if (!SetValue(option, *value, options, error)) return false;
      continue;
    }
    if (value) {
      error = option + " takes no value";
      return false;
    }
    if (option == "--list") {
      options.list = true;
    } else if (option == "--all") {
      options.all = true;
    } else if (option == "--watch") {
      options.watch = true;
    } else if (option == "--json") {
      options.json = true;
    } else if (option == "--help" || option == "-h") {
      options.help = true;
    } else {
      error = "unknown option \"" + option + "\"";
      return false;
    }
  }
  if (options.all && options.device) {
    error = "--all writes every device; it cannot be combined with --device";
    return false;
  }
  const bool watchOnly = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg.rfind("--rearm-after", 0) == 0 || arg.rfind("--max-boards", 0) == 0;
  });
  if (watchOnly && !options.watch) {
    error = "--rearm-after and --max-boards belong to --watch";
    return false;
  }
  if (options.watch && (options.all || options.device || options.list || options.waitSeconds)) {
    error = "--watch takes every board as it comes; it cannot be combined with --all, --device, "
            "--list or --wait";
    return false;
  }
  if (options.settled && !(options.all && options.waitSeconds)) {
    error = "--settle belongs to --all --wait";
    return false;
  }
  if (options.list && (options.all || options.RowsNamed() || !options.logFile.empty())) {
    error = "--list only lists the devices (with --device, --wait and --json at most)";
    return false;
  }
  if (!CheckLedgerOptions(options.ledger, options.all || options.list, error)) return false;
  if (!CheckRecipeOptions(options.recipe, options.RowsNamed(),
                          options.ledger.Command() || options.all || options.list || options.watch, error)) {
    return false;
  }
  return true;
}

std::vector<std::string> ChildArguments(const CliOptions& options, const DeviceAddress& device,
                                        const std::string& boardUuid) {
  std::vector<std::string> args;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (options.rows[kind] && !options.recipe.taken) args.insert(args.end(), {RowOption(kind), *options.rows[kind]});
  }
  if (!options.settingsFile.empty()) args.insert(args.end(), {"--settings", options.settingsFile});
  if (!options.logFile.empty()) args.insert(args.end(), {"--log-file", options.logFile});
  AppendLedgerArguments(options.ledger, boardUuid, args);
  // The version the parent took, from its cache; the child never asks the database.
  if (const auto& taken = options.recipe.taken) {
    args.insert(args.end(), {"--recipe-version",
                             taken->first + ":" + std::to_string(taken->second) + ":" + options.recipe.takenDigest,
                             "--image-cache", options.recipe.cacheFolder});
  }
  if (options.json) args.push_back("--json");
  args.insert(args.end(), {"--device", device.Text()});
  return args;
}

std::string CliUsage() {
  std::string usage =
      "usage: tamsolt-cli [rows] [--settings FILE] [--device BUS:ADDR | --all] [--wait SECONDS]\n"
      "                   [--settle SECONDS] [--log-file PATH] [--json]\n"
      "       tamsolt-cli --watch [rows] [--rearm-after SECONDS] [--max-boards N] [--settings FILE]\n"
      "                   [--log-file PATH] [--json]\n"
      "       tamsolt-cli --list [--device BUS:ADDR] [--wait SECONDS] [--json]\n"
      "Writes the enabled rows to a VX742, as the window's batch button does, without a display.\n"
      "\n"
      "rows (naming any uses exactly the rows named, for this run only; none: the rows\n"
      "enabled in setting.ini):\n"
      "  --boot FILE  --host FILE  --rcdb FILE  --font FILE  --lang FILE\n"
      "  --fv FILE    --bmp FILE   --pic FILE   --tdb FILE\n"
      "options:\n"
      "  --settings FILE     read rows and messages from FILE instead of setting.ini beside\n"
      "                      the program (nothing is ever written to it)\n"
      "  --list              print every attached VX742 as BUS:ADDR, one a line, in scan order\n"
      "  --device BUS:ADDR   write that device instead of the last one found\n"
      "  --all               write every attached VX742 at once, one child process each\n"
      "  --watch             a station: write every VX742 as it is plugged in, each once, one\n"
      "                      child process each, until stopped; one line per slot (hub port)\n"
      "  --rearm-after SECS  --watch: a board taken out after its result frees its slot at\n"
      "                      once; one gone before its result (restarting) is waited for:\n"
      "                      the slot takes a board again once empty this long (default 3)\n"
      "  --max-boards N      --watch: take exactly N boards, let them finish, then stop\n"
      "  --wait SECONDS      wait for a device (or the named one) to appear before starting\n"
      "  --settle SECONDS    --all --wait: after the first device, keep looking until no new\n"
      "                      one has appeared for SECONDS (default 2), then write them all\n"
      "  --log-file PATH     append every log line and message box, with the date, to PATH\n"
      "  --json              standard output carries events, one JSON object a line, and\n"
      "                      nothing else (docs/events.md)\n"
      "  --help              this text\n"
      "Log lines go to standard output; progress and message boxes to standard error.\n"
      "SIGINT (Ctrl-C), SIGTERM or SIGHUP stop the run between two frames: the device is\n"
      "released, a line says where the transfer stood, and the exit status is 10; with\n"
      "--all every child is stopped so and the table says which were cut. A second signal\n"
      "while stopping ends the children at once. --watch: the first signal takes no new\n"
      "board and lets running ones finish; a second interrupts them.\n"
      "\n"
      "exit status:\n";
  for (int code = 0; code <= AsInt(kLastExitCode); ++code) {
    usage += "  " + std::to_string(code) + "  " + ExitCodeMeaning(code) + "\n";
  }
  usage += "\n" + LedgerUsage();
  usage += "\n" + RecipeUsage();
  return usage;
}
