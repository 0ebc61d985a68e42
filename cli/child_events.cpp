#include "cli/child_events.h"

#include <algorithm>

#include "cli/json_events.h"

namespace {

std::string StringField(const Event& data, const char* name) {
  const auto found = data.find(name);
  return found != data.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int PercentField(const Event& data) {
  const auto found = data.find("percent");
  if (found == data.end() || !found->is_number()) return 0;
  const double value = found->get<double>();
  return value >= 100 ? 100 : value > 0 ? static_cast<int>(value) : 0;
}

}  // namespace

std::optional<ChildEvent> ReadChildEvent(const std::string& line) {
  const Event event = Event::parse(line, nullptr, false);
  if (!event.is_object()) return std::nullopt;
  const auto kind = event.find("kind");
  const auto data = event.find("data");
  if (kind == event.end() || !kind->is_string() || data == event.end() || !data->is_object()) {
    return std::nullopt;
  }
  ChildEvent read;
  read.kind = kind->get<std::string>();
  read.item = StringField(*data, "item");
  read.percent = PercentField(*data);
  read.text = StringField(*data, "text");
  read.title = StringField(*data, "title");
  read.reason = StringField(*data, "reason");
  if (read.reason.empty()) read.reason = StringField(*data, "exit_name");
  const auto failure = data->find("failure");
  read.failure = failure != data->end() && failure->is_boolean() && failure->get<bool>();
  const auto code = data->find("exit_code");
  if (code != data->end() && code->is_number_integer() && code->get<long long>() >= 0 &&
      code->get<long long>() <= 255) {
    read.exitCode = static_cast<int>(code->get<long long>());
  }
  return read;
}
