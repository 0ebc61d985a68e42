#include "cli/report_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "events/exit_codes.h"
#include "ledger/ledger.h"
#include "ledger/ledger_report.h"
#include "ledger/unsent_boards.h"
#include "run/ledger_options.h"

namespace {

using Json = nlohmann::json;

// Every page is read first: a damaged ledger is said before its figures,
// which may be short (and the exit is 2, whatever could be read).
std::unique_ptr<Ledger> OpenForReading(const CliOptions& options) {
  const std::string path = LedgerPathFor(options.ledger);
  std::string error;
  auto ledger = Ledger::OpenForReading(path, error, LedgerCheck::kEveryPage);
  if (!ledger) std::fprintf(stderr, "tamsolt-cli: cannot read the ledger %s\n", error.c_str());
  if (ledger && !ledger->Notice().empty()) std::fprintf(stderr, "tamsolt-cli: %s\n", ledger->Notice().c_str());
  return ledger;
}

// Text that may hold any bytes (paths): invalid UTF-8 is shown as U+FFFD.
std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

// The backlog counts every finished board not yet in the line database,
// whatever --since says; -1 when it cannot be counted.
void PrintText(const LedgerReport& report, std::int64_t backlog, bool lineDatabaseSet) {
  std::printf("boards %lld: %lld done, %lld running or cut off; done in %s s on average, slowest %s s\n",
              static_cast<long long>(report.boards), static_cast<long long>(report.done),
              static_cast<long long>(report.running), Seconds(report.meanSeconds).c_str(),
              Seconds(report.slowestSeconds).c_str());
  std::printf("\n%-32s%s\n", "outcome", "boards");
  for (const ReportGroup& g : report.perOutcome) {
    const std::string name = g.code < 0 ? g.key : std::to_string(g.code) + " " + g.key;
    std::printf("%-32s%lld\n", name.c_str(), static_cast<long long>(g.boards));
  }
  const auto table = [](const char* title, const std::vector<ReportGroup>& groups) {
    std::printf("\n%-16s%-8s%s\n", title, "boards", "done");
    for (const ReportGroup& g : groups) {
      std::printf("%-16s%-8lld%lld\n", g.key.empty() ? "?" : g.key.c_str(),
                  static_cast<long long>(g.boards), static_cast<long long>(g.done));
    }
  };
  table("slot", report.perSlot);
  // The slots to check first; the rate is over the boards done or failed.
  std::printf("\n%-24s%-8s%-8s%s\n", "slot by failure rate", "done", "failed", "rate");
  for (const ReportGroup& g : report.slotsByFailureRate) {
    std::printf("%-24s%-8lld%-8lld%.0f%%\n", g.key.empty() ? "?" : g.key.c_str(),
                static_cast<long long>(g.done), static_cast<long long>(g.failed), 100 * FailureRate(g));
  }
  table("day (local)", report.perDay);
  std::printf("\n%-24s%-8s%-8s%s\n", "recipe", "boards", "done", "failed");
  for (const ReportGroup& g : report.perRecipe) {
    const std::string name = g.key.empty() ? "(none)" : g.key + " version " + std::to_string(g.code);
    std::printf("%-24s%-8lld%-8lld%lld\n", name.c_str(), static_cast<long long>(g.boards),
                static_cast<long long>(g.done), static_cast<long long>(g.failed));
  }
  if (backlog < 0) return;
  // Without a url nothing will ever forward them: say so rather than "waiting".
  std::printf(lineDatabaseSet ? "\nwaiting for the line database: %lld\n"
                              : "\nnot forwarded (no line database: [ledger] url is empty): %lld\n",
              static_cast<long long>(backlog));
}

void PrintCsv(const LedgerReport& report, std::int64_t backlog) {
  // Only the slot_failures rows fill failed and failure_rate.
  std::printf("group,key,code,boards,done,failed,failure_rate\n");
  std::printf("all,,,%lld,%lld\n", static_cast<long long>(report.boards), static_cast<long long>(report.done));
  std::printf("mean_seconds,%s,,,\nslowest_seconds,%s,,,\n", Seconds(report.meanSeconds).c_str(),
              Seconds(report.slowestSeconds).c_str());
  const auto rows = [](const char* group, const std::vector<ReportGroup>& groups, bool withCode) {
    for (const ReportGroup& g : groups) {
      std::printf("%s,%s,%s,%lld,%lld\n", group, CsvField(g.key).c_str(),
                  withCode && g.code >= 0 ? std::to_string(g.code).c_str() : "",
                  static_cast<long long>(g.boards), static_cast<long long>(g.done));
    }
  };
  rows("outcome", report.perOutcome, true);
  rows("slot", report.perSlot, false);
  rows("day", report.perDay, false);
  for (const ReportGroup& g : report.perRecipe) {  // the version in the code column
    std::printf("recipe,%s,%s,%lld,%lld,%lld,\n", CsvField(g.key).c_str(),
                g.key.empty() ? "" : std::to_string(g.code).c_str(), static_cast<long long>(g.boards),
                static_cast<long long>(g.done), static_cast<long long>(g.failed));
  }
  for (const ReportGroup& g : report.slotsByFailureRate) {
    std::printf("slot_failures,%s,,%lld,%lld,%lld,%.3f\n", CsvField(g.key).c_str(),
                static_cast<long long>(g.boards), static_cast<long long>(g.done),
                static_cast<long long>(g.failed), FailureRate(g));
  }
  if (backlog >= 0) std::printf("backlog,,,%lld,\n", static_cast<long long>(backlog));
}

void PrintJson(const LedgerReport& report, const std::string& since, const std::string& until,
               std::int64_t backlog) {
  Json out = {{"since", since},
              {"until", until},
              {"boards", report.boards},
              {"done", report.done},
              {"running", report.running},
              {"mean_seconds", report.meanSeconds},
              {"slowest_seconds", report.slowestSeconds},
              {"backlog", backlog >= 0 ? Json(backlog) : Json()}};
  out["per_outcome"] = Json::array();
  for (const ReportGroup& g : report.perOutcome) {
    out["per_outcome"].push_back({{"code", g.code < 0 ? Json() : Json(g.code)}, {"outcome", g.key}, {"boards", g.boards}});
  }
  for (const char* name : {"per_slot", "per_day"}) out[name] = Json::array();
  for (const ReportGroup& g : report.perSlot) {
    out["per_slot"].push_back({{"slot", g.key}, {"boards", g.boards}, {"done", g.done}});
  }
  out["slots_by_failure_rate"] = Json::array();
  for (const ReportGroup& g : report.slotsByFailureRate) {
    out["slots_by_failure_rate"].push_back({{"slot", g.key}, {"boards", g.boards}, {"done", g.done},
                                            {"failed", g.failed}, {"failure_rate", FailureRate(g)}});
  }
  for (const ReportGroup& g : report.perDay) {
    out["per_day"].push_back({{"day", g.key}, {"boards", g.boards}, {"done", g.done}});
  }
  out["per_recipe"] = Json::array();
  for (const ReportGroup& g : report.perRecipe) {
    out["per_recipe"].push_back({{"recipe", g.key}, {"version", g.key.empty() ? Json() : Json(g.code)},
                                 {"boards", g.boards}, {"done", g.done}, {"failed", g.failed}});
  }
  std::printf("%s\n", JsonText(out).c_str());
}

Json Nullable(const std::string& text) { return text.empty() ? Json() : Json(text); }

Json BoardJson(const StoredBoard& stored) {
  const BoardRecord& b = stored.board;
  Json board = {{"uuid", b.uuid},         {"started_utc", b.startedUtc}, {"station", b.station},
                {"slot", b.slot},         {"device", b.device},          {"program", b.program},
                {"version", b.version},   {"operator", b.operatorName},  {"settings_path", b.settingsPath},
                {"settings_sha256", b.settingsSha256}};
  board["finished_utc"] = stored.outcome ? Json(stored.outcome->finishedUtc) : Json();
  board["seconds"] = stored.outcome ? Json(stored.outcome->seconds) : Json();
  board["outcome_code"] = stored.outcome ? Json(stored.outcome->code) : Json();
  board["outcome"] = stored.outcome ? Json(stored.outcome->word) : Json();
  board["message"] = stored.outcome ? stored.outcome->message : std::string();
  board["log_lost"] = stored.outcome && stored.outcome->logLost;
  board["recipe"] = b.recipe;
  board["recipe_version"] = b.recipeVersion > 0 ? Json(b.recipeVersion) : Json();
  board["images"] = Json::array();
  for (const ImageRecord& i : stored.images) {
    board["images"].push_back({{"kind", i.kind},         {"path", i.path},
                               {"bytes", i.bytes},       {"sha256", i.sha256},
                               {"pinned", i.pinned},     {"started_utc", Nullable(i.startedUtc)},
                               {"finished_utc", Nullable(i.finishedUtc)}, {"result", i.result}});
  }
  return board;
}

void PrintCsvBoard(const StoredBoard& stored) {
  const BoardRecord& b = stored.board;
  std::string head;
  for (const std::string& field :
       {b.uuid, b.startedUtc, stored.outcome ? stored.outcome->finishedUtc : std::string(),
        stored.outcome ? Seconds(stored.outcome->seconds) : std::string(), b.station, b.slot, b.device,
        b.program, b.version, b.operatorName, b.settingsPath, b.settingsSha256,
        stored.outcome ? std::to_string(stored.outcome->code) : std::string(),
        stored.outcome ? stored.outcome->word : std::string(),
        stored.outcome ? stored.outcome->message : std::string()}) {
    head += CsvField(field) + ",";
  }
  // The board's later columns go last, so a script reading the columns by
  // their place before they came still reads the same ones.
  const std::string tail = "," + std::string(stored.outcome && stored.outcome->logLost ? "1" : "0") + "," +
                           CsvField(b.recipe) + "," +
                           (b.recipeVersion > 0 ? std::to_string(b.recipeVersion) : std::string());
  if (stored.images.empty()) std::cout << head << ",,,,,,," << tail << "\n";
  for (const ImageRecord& i : stored.images) {
    std::cout << head << i.kind << "," << CsvField(i.path) << "," << i.bytes << "," << i.sha256 << ","
              << (i.pinned ? 1 : 0) << "," << i.startedUtc << "," << i.finishedUtc << "," << i.result << tail
              << "\n";
  }
}

// The stored (UTC) bounds of --since and --until, local days both.
std::pair<std::string, std::string> SpanOf(const LedgerOptions& options) {
  return {options.since ? LocalDayStartUtc(*options.since) : std::string(),
          options.until ? LocalDayStartUtc(*options.until) : std::string()};
}

}  // namespace

int RunReportCommand(const CliOptions& options) {
  const auto ledger = OpenForReading(options);
  if (!ledger) return AsInt(ExitCode::kBadCommandLine);
  LedgerReport report;
  std::string error;
  const std::string since = options.ledger.since.value_or("");
  const auto [from, until] = SpanOf(options.ledger);
  if (!BuildReport(*ledger, from, until, report, error)) {
    std::fprintf(stderr, "tamsolt-cli: cannot read the ledger: %s\n", error.c_str());
    return AsInt(ExitCode::kBadCommandLine);
  }
  const std::int64_t backlog = CountUnsentBoards(*ledger, error).value_or(-1);
  if (backlog < 0) std::fprintf(stderr, "tamsolt-cli: cannot count the boards waiting: %s\n", error.c_str());
  switch (options.ledger.reportFormat) {
    case LedgerOptions::Format::kText:
      PrintText(report, backlog, !LedgerUrlFor(options.ledger).empty());
      break;
    case LedgerOptions::Format::kCsv: PrintCsv(report, backlog); break;
    case LedgerOptions::Format::kJson: PrintJson(report, since, options.ledger.until.value_or(""), backlog); break;
  }
  return AsInt(ledger->Damaged() ? ExitCode::kBadCommandLine : ExitCode::kDone);
}

int RunExportCommand(const CliOptions& options) {
  const auto ledger = OpenForReading(options);
  if (!ledger) return AsInt(ExitCode::kBadCommandLine);
  const bool csv = options.ledger.exportFormat == "csv";
  std::fflush(stdout);
  if (csv) {
    std::cout << "uuid,started_utc,finished_utc,seconds,station,slot,device,program,version,operator,"
                 "settings_path,settings_sha256,outcome_code,outcome,message,"
                 "kind,path,bytes,sha256,pinned,image_started_utc,image_finished_utc,result,"
                 "log_lost,recipe,recipe_version\n";
  }
  std::string error;
  const auto [from, until] = SpanOf(options.ledger);
  long exported = 0;
  const bool read = ledger->ForEachBoard(from, until, [&](const StoredBoard& b) {
    ++exported;
    if (csv) {
      PrintCsvBoard(b);
    } else {
      std::cout << JsonText(BoardJson(b)) << "\n";
    }
  }, error);
  std::cout.flush();
  if (!read) {
    std::fprintf(stderr, "tamsolt-cli: the export stopped after %ld board(s): cannot read the ledger: %s\n",
                 exported, error.c_str());
    return AsInt(ExitCode::kBadCommandLine);
  }
  return AsInt(ledger->Damaged() ? ExitCode::kBadCommandLine : ExitCode::kDone);
}
