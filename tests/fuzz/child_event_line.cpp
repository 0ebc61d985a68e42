// Fuzz target: the station's reading of its children's event lines. Any
// bytes are one line: reading them never throws or crashes, a percentage is
// always 0..100, and a line read as an event is a JSON object with a string
// kind and an object data.
#include <string>

#include "cli/child_events.h"
#include "cli/json_events.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::optional<ChildEvent> event = ReadChildEvent(line);
  if (!event) return 0;
  fuzz::Require(event->percent >= 0 && event->percent <= 100, "percent out of 0..100");
  const Event parsed = Event::parse(line, nullptr, false);
  fuzz::Require(parsed.is_object() && parsed["kind"].is_string() && parsed["data"].is_object(),
                "a line read as an event that is not one");
  fuzz::Require(parsed["kind"].get<std::string>() == event->kind, "kind read wrongly");
  return 0;
}
