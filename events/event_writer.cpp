#include "events/event_writer.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "events/exit_codes.h"

namespace {

bool g_on = false;
std::string g_device;
std::string g_slot;
std::string g_reason;
Event g_outcomeFields = Event::object();
std::chrono::steady_clock::time_point g_started;

// UTC with milliseconds, so events of several processes sort by it.
std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms.count()));
  return text;
}

}  // namespace

void EnableJsonEvents(const std::string& device, const std::string& slot) {
  if (!g_on) g_started = std::chrono::steady_clock::now();
  g_on = true;
  g_device = device;
  g_slot = slot;
}

bool JsonEventsOn() { return g_on; }

void EmitEvent(const std::string& kind, Event data, const std::string& device,
               const std::string& slot) {
  if (!g_on) return;
  Event event = {{"schema", kEventSchema}, {"kind", kind}, {"time", TimeStamp()}};
  const std::string& named = device.empty() ? g_device : device;
  if (!named.empty()) event["device"] = named;
  if (const std::string& port = slot.empty() ? g_slot : slot; !port.empty()) event["slot"] = port;
  event["data"] = std::move(data);
  // Paths from old archives need not be UTF-8: such bytes become U+FFFD
  // instead of an exception.
  PassOnEventLine(event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

void PassOnEventLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void NoteFailureReason(const std::string& text) { g_reason = text; }

const std::string& NotedFailureReason() { return g_reason; }

void NoteOutcomeField(const std::string& key, Event value) { g_outcomeFields[key] = std::move(value); }

int EarlyError(int exitCode, const std::string& text) {
  std::fprintf(stderr, "tamsolt-cli: %s\n", text.c_str());
  NoteFailureReason(text);
  return exitCode;
}

void EmitOutcome(int exitCode) {
  Event data = {
      {"exit_code", exitCode},
      {"exit_name", ExitCodeMeaning(exitCode)},
      {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - g_started).count()}};
  if (exitCode != 0 && !g_reason.empty()) data["reason"] = g_reason;
  for (auto& [key, value] : g_outcomeFields.items()) data[key] = value;
  EmitEvent("outcome", std::move(data));
}
