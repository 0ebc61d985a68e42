// The ledger's options on tamsolt-cli's command line, and what a child of
// --all is given.
#include <gtest/gtest.h>

#include "cli/board_recording.h"
#include "run/cli_options.h"
#include "run/ledger_options.h"
#include "supervisor/station_run.h"

namespace {

TEST(LedgerOptions, CommandLines) {
  const struct {
    std::vector<std::string> args;
    const char* error;  // "" when accepted
  } cases[] = {
      {{"--ledger", "/var/lib/tamsolt/ledger.sqlite", "--rcdb", "r"}, ""},
      {{"--report", "--since", "2026-12-01", "--json"}, ""},
      {{"--json", "--report"}, ""},
      {{"--export=jsonl", "--since=2026-12-01T08:00"}, ""},
      {{"--pin", "--settings", "line3.ini", "--boot", "b"}, ""},
      {{"--json", "--rcdb", "r"}, ""},  // events, not the report
      {{"--report", "--csv", "--json"}, "--csv and --json exclude each other"},
      {{"--export", "xml"}, "--export wants csv or jsonl, not \"xml\""},
      {{"--report", "--since", "1.12.2026"}, "--since wants a local date as YYYY-MM-DD, not \"1.12.2026\""},
      {{"--export", "csv", "--until", "2026-13"}, "--until wants a local date as YYYY-MM-DD, not \"2026-13\""},
      {{"--since", "2026-12-01"}, "--since and --until go with --report or --export"},
      {{"--until", "2026-12-01"}, "--since and --until go with --report or --export"},
      {{"--ledger", "x", "--no-ledger"}, "--ledger and --no-ledger exclude each other"},
      {{"--report", "--pin"}, "--report, --export, --pin and --ledger-sync are separate commands"},
      {{"--pin", "--all"}, "--report, --export, --pin and --ledger-sync write no device; not with --all or --list"},
      {{"--ledger-sync", "--ledger-url", "postgresql://s@db/line3"}, ""},
      {{"--ledger-url=", "--rcdb", "r"}, ""},  // forwards nothing
      {{"--ledger-sync", "--all"}, "--report, --export, --pin and --ledger-sync write no device; not with --all or --list"},
      {{"--ledger-sync", "--no-ledger"}, "--no-ledger leaves nothing to read"},
      {{"--ledger-url"}, "--ledger-url needs a value"},
      {{"--ledger"}, "--ledger needs a value"},
      {{"--no-ledger=1"}, "--no-ledger takes no value"},
  };
  for (const auto& c : cases) {
    CliOptions options;
    std::string error;
    const bool accepted = ParseCliOptions(c.args, options, error);
    EXPECT_EQ(accepted, error.empty()) << c.args[0];
    EXPECT_EQ(error, c.error) << c.args[0];
  }
}

TEST(LedgerOptions, ChildrenRecordWhereTheirParentWould) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions({"--all", "--ledger", "/l.sqlite", "--rcdb", "r"}, options, error)) << error;
  const auto args = ChildArguments(options, *ParseDeviceAddress("001:004"));
  // The parent forwards: a child is told to forward nothing, and never sees the url.
  EXPECT_EQ(args, (std::vector<std::string>{"--rcdb", "r", "--ledger", "/l.sqlite", "--ledger-url=",
                                            "--device", "001:004"}));
  CliOptions withUrl;
  ASSERT_TRUE(ParseCliOptions({"--all", "--ledger-url", "postgresql://s:pw@db/l", "--rcdb", "r"}, withUrl, error));
  EXPECT_EQ(ChildArguments(withUrl, *ParseDeviceAddress("001:004"))[2], "--ledger-url=");
  EXPECT_EQ(LedgerUrlFor(withUrl.ledger), "postgresql://s:pw@db/l");
  CliOptions off;
  ASSERT_TRUE(ParseCliOptions({"--all", "--no-ledger"}, off, error));
  EXPECT_EQ(ChildArguments(off, *ParseDeviceAddress("001:004"))[0], "--no-ledger");
}

TEST(LedgerOptions, StationExitCodeKeepsADeviceFailureFirst) {
  const struct {
    std::vector<int> children;
    int code;
  } cases[] = {{{0, 0}, 0}, {{0, 11}, 11}, {{11, 7}, 1}, {{8, 0}, 1}};
  for (const auto& c : cases) {
    StationRun run;
    for (const int code : c.children) run.results.push_back({*ParseDeviceAddress("001:002"), code, 1.0});
    EXPECT_EQ(StationExitCode(run), c.code) << c.children[0] << " " << c.children[1];
  }
}

}  // namespace
