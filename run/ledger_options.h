// The ledger's options of tamsolt-cli: where it is (--ledger, --no-ledger),
// and the commands that read it or pin rows instead of writing a device
// (--report, --export, --pin). Parsed before the other options.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct LedgerOptions {
  std::string path;  // --ledger PATH
  bool off = false;  // --no-ledger
  bool report = false;
  enum class Format { kText, kCsv, kJson } reportFormat = Format::kText;
  std::optional<std::string> exportFormat;  // --export csv|jsonl
  std::optional<std::string> since;         // --since DATE: the station's local day (or a UTC time)
  std::optional<std::string> until;         // --until DATE: the first local day not included
  bool pin = false;
  // --ledger-url URL; set but empty: this run forwards nothing (what --all
  // and --watch give their children, whose parent forwards for them).
  std::optional<std::string> url;
  bool sync = false;  // --ledger-sync
  // --board-uuid UUID: what a station gives each child, the uuid its board's
  // row is recorded under, so that the station can close the row of a child
  // that a signal ended before it could.
  std::string boardUuid;

  // --report, --export, --pin or --ledger-sync: no device is written.
  bool Command() const { return report || exportFormat || pin || sync; }
};

enum class LedgerParse { kNotMine, kTaken, kError };

// Takes args[i] (and its value, advancing i) when it is a ledger option.
// --csv and --json are taken only when --report is among the arguments.
LedgerParse ParseLedgerOption(const std::vector<std::string>& args, std::size_t& i,
                              LedgerOptions& options, std::string& error);

// The combinations that make no sense; false with the reason in error.
// writesDevices: the rest of the command line names --all or --list.
bool CheckLedgerOptions(const LedgerOptions& options, bool allOrList, std::string& error);

// What a child of --all is given, so it records where its parent would, and
// under boardUuid when one is given.
void AppendLedgerArguments(const LedgerOptions& options, const std::string& boardUuid,
                           std::vector<std::string>& args);

// The line database's connection string in use: --ledger-url, else [ledger]
// url of the settings file; empty (nothing is forwarded) with --no-ledger.
std::string LedgerUrlFor(const LedgerOptions& options);

// The ledger in use: --ledger, else [ledger] path of the settings file, else
// the default; empty with --no-ledger.
std::string LedgerPathFor(const LedgerOptions& options);

// The options' and exit code's part of --help.
std::string LedgerUsage();
