// json_events_check FILE MODE EXIT: reads what tamsolt-cli --json wrote on
// standard output and fails unless every line is one event of the documented
// envelope, and the run's events are there in order (docs/events.md).
// MODE single: one device written; all: every device of --all, each named;
// watch: the slot states and the tally too.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& why, const std::string& line = {}) {
  std::cerr << "json_events_check: " << why << (line.empty() ? "" : "\n  " + line) << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: json_events_check FILE single|all EXIT");
  const std::string mode = argv[2];
  const int exitCode = std::stoi(argv[3]);
  std::ifstream file(argv[1]);
  std::vector<nlohmann::json> events;
  for (std::string line; std::getline(file, line);) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return Fail("not one JSON object", line);
    if (event.value("schema", 0) != 1 || !event["kind"].is_string() ||
        !event["time"].is_string() || !event["data"].is_object()) {
      return Fail("no envelope", line);
    }
    events.push_back(event);
  }
  if (events.empty() || events.front()["kind"] != "run-start") return Fail("no run-start first");
  if (events.front()["data"]["mode"] != mode) return Fail("run-start names another mode");
  const nlohmann::json& last = events.back();
  if (last["kind"] != "outcome" || last["data"]["exit_code"] != exitCode) {
    return Fail("the last event is not the outcome", last.dump());
  }
  if (mode == "all" && last.contains("device")) return Fail("the run's outcome names a device");

  // Per device, the kinds in the order they came. A device written in full
  // has its items and its box before its outcome; one that failed says why
  // in the message table's words.
  // An item starts only once the one before reached 100 % and its item-done.
  std::map<std::string, std::vector<std::string>> kinds;
  std::map<std::string, nlohmann::json> outcomes;
  std::map<std::string, std::pair<std::string, bool>> openItem;  // item, 100 % seen
  for (const nlohmann::json& event : events) {
    const nlohmann::json& data = event["data"];
    if (event["kind"] == "outcome" && data["exit_code"] == 0 && data.contains("reason")) {
      return Fail("a done run's outcome has a reason", event.dump());
    }
    if (!event.contains("device")) continue;
    if (!event.contains("slot")) return Fail("a device without its slot", event.dump());
    kinds[event["device"]].push_back(event["kind"]);
    auto& [item, full] = openItem[event["device"]];
    if (event["kind"] == "item-start" || (event["kind"] == "outcome" && data["exit_code"] == 0)) {
      if (!item.empty()) return Fail(item + " has no item-done", event.dump());
      item = data.value("item", "");
      full = false;
    }
    if (event["kind"] == "progress" && data["item"] == item && data["percent"] == 100) full = true;
    if (event["kind"] == "item-done") {
      if (data["item"] != item || !full) return Fail("item-done without its item's 100 %", event.dump());
      item.clear();
    }
    if (event["kind"] == "outcome") outcomes[event["device"]] = event["data"];
  }
  if (kinds.empty()) return Fail("no event names a device");
  if (mode == "watch") {
    const auto has = [&](const char* kind) {
      return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e["kind"] == kind; });
    };
    if (!has("slot-state") || !has("tally") || !has("device-found")) {
      return Fail("no slot-state, tally or device-found");
    }
    // Every run here is shorter than a minute: too soon for boards per hour.
    for (const auto& e : events) {
      if (e["kind"] == "tally" && !e["data"].value("per_hour", nlohmann::json()).is_null()) {
        return Fail("a boards-per-hour figure within the first minute", e.dump());
      }
    }
  }
  const std::vector<std::string> written{"device-opened", "item-start", "progress", "log",
                                         "message", "item-done", "outcome"};
  for (const auto& [device, seen] : kinds) {
    if (!outcomes.count(device)) return Fail(device + " has no outcome");
    if (outcomes[device]["exit_code"] != 0) {
      if (!outcomes[device].contains("reason")) return Fail(device + "'s failure has no reason");
    } else {
      std::size_t next = 0;
      for (const std::string& kind : seen) {
        if (next < written.size() && kind == written[next]) ++next;
      }
      if (next != written.size()) return Fail(device + " lacks " + written[next]);
    }
    if (mode == "all" && seen.back() != "device-result") return Fail(device + ": no device-result last");
  }
  return 0;
}
