#include "station/today_report.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

int Count(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_number_integer() ? it->get<int>() : 0;
}

std::vector<ReportCount> Groups(const Json& report, const char* list, const char* keyName) {
  std::vector<ReportCount> groups;
  const auto it = report.find(list);
  if (it == report.end() || !it->is_array()) return groups;
  for (const Json& group : *it) {
    if (!group.is_object()) continue;
    const auto key = group.find(keyName);
    groups.push_back({key != group.end() && key->is_string() ? key->get<std::string>() : "",
                      Count(group, "boards"), Count(group, "done")});
  }
  return groups;
}

}  // namespace

std::optional<TodayReport> ParseTodayReport(const std::string& json) {
  const Json report = Json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!report.is_object() || !report.contains("boards")) return std::nullopt;
  TodayReport today;
  today.boards = Count(report, "boards");
  today.done = Count(report, "done");
  today.perOutcome = Groups(report, "per_outcome", "outcome");
  today.perSlot = Groups(report, "per_slot", "slot");
  return today;
}
