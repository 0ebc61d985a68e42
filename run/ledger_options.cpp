#include "run/ledger_options.h"

#include <algorithm>
#include <cctype>

#include "ledger/ledger.h"
#include "settings/settings.h"

namespace {

// "2026-12-08" or a longer ISO 8601 time beginning with it.
bool IsDate(const std::string& text) {
  if (text.size() < 10) return false;
  for (std::size_t i = 0; i < 10; ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? text[i] != '-' : !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return text.size() == 10 || text[10] == 'T';
}

}  // namespace

LedgerParse ParseLedgerOption(const std::vector<std::string>& args, std::size_t& i,
                              LedgerOptions& options, std::string& error) {
  std::string option = args[i];
  std::optional<std::string> value;
  if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
    value = option.substr(equals + 1);
    option.erase(equals);
  }
  const bool takesValue = option == "--ledger" || option == "--export" || option == "--since" || option == "--until" ||
                          option == "--ledger-url" || option == "--board-uuid";
  const bool reportNamed = std::find(args.begin(), args.end(), "--report") != args.end();
  const bool flag = option == "--no-ledger" || option == "--report" || option == "--pin" ||
                    option == "--ledger-sync" ||
                    (reportNamed && (option == "--csv" || option == "--json"));
  if (!takesValue && !flag) return LedgerParse::kNotMine;
  if (flag && value) {
    error = option + " takes no value";
    return LedgerParse::kError;
  }
  if (takesValue && !value) {
    if (i + 1 == args.size()) {
      error = option + " needs a value";
      return LedgerParse::kError;
    }
    value = args[++i];
  }
  if (takesValue && value->empty() && option != "--ledger-url") {
    error = option + " needs a value";
    return LedgerParse::kError;
  }
  if (option == "--ledger") {
    options.path = *value;
  } else if (option == "--ledger-url") {
    options.url = *value;
  } else if (option == "--board-uuid") {
    if (value->size() != 36 || value->find_first_not_of("0123456789abcdef-") != std::string::npos) {
      error = "--board-uuid wants a lower-case UUID, not \"" + *value + "\"";
      return LedgerParse::kError;
    }
    options.boardUuid = *value;
  } else if (option == "--export") {
    if (*value != "csv" && *value != "jsonl") {
      error = "--export wants csv or jsonl, not \"" + *value + "\"";
      return LedgerParse::kError;
    }
    options.exportFormat = *value;
  } else if (option == "--since" || option == "--until") {
    if (!IsDate(*value)) {
      error = option + " wants a local date as YYYY-MM-DD, not \"" + *value + "\"";
      return LedgerParse::kError;
    }
    (option == "--since" ? options.since : options.until) = *value;
  } else if (option == "--no-ledger") {
    options.off = true;
  } else if (option == "--report") {
    options.report = true;
  } else if (option == "--pin") {
    options.pin = true;
  } else if (option == "--ledger-sync") {
    options.sync = true;
  } else {
    const auto format = option == "--csv" ? LedgerOptions::Format::kCsv : LedgerOptions::Format::kJson;
    if (options.reportFormat != LedgerOptions::Format::kText && options.reportFormat != format) {
      error = "--csv and --json exclude each other";
      return LedgerParse::kError;
    }
    options.reportFormat = format;
  }
  return LedgerParse::kTaken;
}

bool CheckLedgerOptions(const LedgerOptions& options, bool allOrList, std::string& error) {
  const int commands = (options.report ? 1 : 0) + (options.exportFormat ? 1 : 0) +
                       (options.pin ? 1 : 0) + (options.sync ? 1 : 0);
  if (commands > 1) {
    error = "--report, --export, --pin and --ledger-sync are separate commands";
  } else if (commands == 1 && allOrList) {
    error = "--report, --export, --pin and --ledger-sync write no device; not with --all or --list";
  } else if (options.off && !options.path.empty()) {
    error = "--ledger and --no-ledger exclude each other";
  } else if (options.off && (options.report || options.exportFormat || options.sync)) {
    error = "--no-ledger leaves nothing to read";
  } else if ((options.since || options.until) && !options.report && !options.exportFormat) {
    error = "--since and --until go with --report or --export";
  } else {
    return true;
  }
  return false;
}

void AppendLedgerArguments(const LedgerOptions& options, const std::string& boardUuid,
                           std::vector<std::string>& args) {
  if (options.off) args.push_back("--no-ledger");
  if (!options.off && !boardUuid.empty()) args.insert(args.end(), {"--board-uuid", boardUuid});
  if (!options.path.empty()) args.insert(args.end(), {"--ledger", options.path});
  // The parent forwards once each child ends; the url (which may hold a
  // password) never shows on a child's command line.
  if (!options.off) args.push_back("--ledger-url=");
}

std::string LedgerUrlFor(const LedgerOptions& options) {
  if (options.off) return {};
  if (options.url) return *options.url;
  return ReadSetting("url", "ledger");
}

std::string LedgerPathFor(const LedgerOptions& options) {
  if (options.off) return {};
  if (!options.path.empty()) return options.path;
  const std::string configured = ReadSetting("path", "ledger");
  return configured.empty() ? DefaultLedgerPath() : configured;
}

std::string LedgerUsage() {
  return "ledger (a record of every board written; docs/ledger.md):\n"
         "  --ledger PATH       record into PATH instead of [ledger] path of the settings file\n"
         "                      or ~/.local/state/tamsolt/ledger.sqlite\n"
         "  --no-ledger         do not record this run (nor forward anything)\n"
         "  --ledger-url URL    forward finished boards to the line database at URL (a libpq\n"
         "                      connection string) instead of [ledger] url of the settings\n"
         "                      file; an empty URL forwards nothing. No password in it: use\n"
         "                      ~/.pgpass or PGPASSWORD\n"
         "  --ledger-sync       forward every board still waiting and print how many went and\n"
         "                      how many are left: 0 when the line database took them, 2 when\n"
         "                      it or the ledger could not be reached or refused (its message\n"
         "                      on standard error), 10 when a stop signal ended it (the boards\n"
         "                      not sent stay queued); no device is touched\n"
         "  --report [--since DATE] [--until DATE] [--csv|--json]\n"
         "                      boards per outcome, slot and day, mean and slowest time, and\n"
         "                      how many wait for the line database; DATEs are this\n"
         "                      machine's local days, --until's day not included\n"
         "  --export csv|jsonl [--since DATE] [--until DATE]\n"
         "                      every board with its images, on standard output\n"
         "  --pin               write the SHA-256 of this run's rows into section [SHA256] of\n"
         "                      the settings file; no device is touched\n";
}
