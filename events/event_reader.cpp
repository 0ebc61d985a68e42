#include "events/event_reader.h"

#include <climits>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <utility>

namespace {

using Json = nlohmann::json;

struct KindName {
  const char* name;
  EventKind kind;
};

// The kinds of docs/events.md its readers act on.
constexpr KindName kKinds[] = {
    {"run-start", EventKind::kRunStart},         {"device-found", EventKind::kDeviceFound},
    {"device-opened", EventKind::kDeviceOpened},  {"device-gone", EventKind::kDeviceGone},
    {"item-start", EventKind::kItemStart},       {"progress", EventKind::kProgress},
    {"message", EventKind::kMessageBox},         {"device-result", EventKind::kDeviceResult},
    {"outcome", EventKind::kOutcome},            {"slot-state", EventKind::kSlotState},
    {"tally", EventKind::kTally},
    {"stopping", EventKind::kStopping}, {"interrupting", EventKind::kInterrupting},          {"station", EventKind::kStationNote},
    {"slot-alert", EventKind::kSlotAlert},       {"recipe", EventKind::kRecipe},
    {"log", EventKind::kLog},                    {"end-answered", EventKind::kEndAnswered},
};

EventKind KindOf(const std::string& name) {
  for (const KindName& k : kKinds) {
    if (name == k.name) return k.kind;
  }
  return EventKind::kUnknown;
}

// A field of the wrong type is treated as absent, never as an error.
std::string Text(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<double> Number(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

// Only an integer that fits: a huge exit code must not wrap round to 0 (done).
std::optional<int> Integer(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(INT_MAX)) return std::nullopt;
    return static_cast<int>(value);
  }
  const auto value = it->get<std::int64_t>();
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

// A percentage, clamped: a writer's rounding or a stray value never leaves 0..100.
int Percent(const Json& object) {
  const std::optional<double> value = Number(object, "percent");
  if (!value) return 0;
  return *value >= 100 ? 100 : *value > 0 ? static_cast<int>(*value) : 0;
}

std::optional<bool> Flag(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_boolean()) return std::nullopt;
  return it->get<bool>();
}

std::vector<EventRow> EnabledRows(const Json& data) {
  std::vector<EventRow> rows;
  const auto it = data.find("rows");
  if (it == data.end() || !it->is_array()) return rows;
  for (const Json& row : *it) {
    if (!row.is_object()) continue;
    const auto enabled = row.find("enabled");
    if (enabled != row.end() && enabled->is_boolean() && !enabled->get<bool>()) continue;
    rows.push_back({Text(row, "item"), Text(row, "file"), Text(row, "sha256")});
  }
  return rows;
}

// The strings of an array; anything else in it is skipped.
std::vector<std::string> Texts(const Json& object, const char* key) {
  std::vector<std::string> texts;
  const auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return texts;
  for (const Json& text : *it) {
    if (text.is_string()) texts.push_back(text.get<std::string>());
  }
  return texts;
}

}  // namespace

std::int64_t ParseEventTime(const std::string& text) {
  std::tm utc{};
  int ms = 0;
  char zone = 0;
  const int got = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &utc.tm_year,
                              &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec,
                              &ms, &zone);
  if (got < 6) return 0;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&utc)) * 1000 + (got >= 7 ? ms : 0);
}

namespace {

std::optional<StationEvent> ReadEvent(const std::string& line) {
  const Json json = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  const std::string kind = Text(json, "kind");
  if (kind.empty()) return std::nullopt;
  // Data of the wrong type is absent like any other field: the kind alone still says something.
  static const Json kNoData = Json::object();
  const auto found = json.find("data");
  const Json& data = found != json.end() && found->is_object() ? *found : kNoData;

  StationEvent event;
  event.kind = KindOf(kind);
  event.timeMs = ParseEventTime(Text(json, "time"));
  event.device = Text(json, "device");
  event.slot = Text(json, "slot");
  if (event.slot.empty()) event.slot = Text(data, "slot");
  if (event.slot.empty()) event.slot = event.device;

  event.item = Text(data, "item");
  event.percent = Percent(data);
  event.exitCode = Integer(data, "exit_code");
  event.exitName = Text(data, "exit_name");
  // A box's words, or the reason of a failed outcome or slot (whose "text" is
  // the CLI's own summary line, not for the window).
  const bool ownText = event.kind == EventKind::kMessageBox || event.kind == EventKind::kStationNote ||
                       event.kind == EventKind::kLog;
  event.text = Text(data, ownText ? "text" : "reason");
  event.title = Text(data, "title");
  event.failure = Flag(data, "failure").value_or(false);
  event.state = Text(data, "state");
  event.present = Flag(data, "present");
  event.taken = Flag(data, "taken");
  event.notTaken = Text(data, "not_taken");
  event.reasonKind = Text(data, "reason_kind");
  event.rearmIn = Number(data, "rearm_in");
  event.mode = Text(data, "mode");
  if (event.kind == EventKind::kRunStart || event.kind == EventKind::kRecipe) event.rows = EnabledRows(data);
  const bool recipe = event.kind == EventKind::kRecipe;
  event.recipe = Text(data, recipe ? "name" : "recipe");
  event.recipeVersion = Integer(data, recipe ? "version" : "recipe_version");
  event.away = Flag(data, "away");
  event.written = Integer(data, "written").value_or(0);
  event.failed = Integer(data, "failed").value_or(0);
  event.interrupted = Integer(data, "interrupted");
  event.perHour = Number(data, "per_hour");
  event.check = Flag(data, "check");
  event.rule = Text(data, "rule");
  event.boards = Integer(data, "boards").value_or(0);
  event.rate = Number(data, "rate");
  event.stationRate = Number(data, "station_rate");
  event.lastReasons = Texts(data, "last_reasons");
  return event;
}

}  // namespace

std::string OutcomeReason(const StationEvent& outcome) {
  return outcome.text.empty() ? outcome.exitName : outcome.text;
}

std::optional<StationEvent> ParseEventLine(const std::string& line) {
  // The readers above check each type first; this catch is for a JSON library
  // that still finds something to object to: such a line is skipped.
  try {
    return ReadEvent(line);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}
