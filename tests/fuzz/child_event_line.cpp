// Fuzz target: the event reader as the station reads its children's lines. Any
// bytes are one line: reading them never throws or crashes, a percentage is
// always 0..100, and a line read as an event is a JSON object with a string
// kind.
#include <string>

#include "events/event_reader.h"
#include "events/event_writer.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::optional<StationEvent> event = ParseEventLine(line);
  if (!event) return 0;
  fuzz::Require(event->percent >= 0 && event->percent <= 100, "percent out of 0..100");
  const Event parsed = Event::parse(line, nullptr, false);
  fuzz::Require(parsed.is_object() && parsed["kind"].is_string(), "a line read as an event that is not one");
  return 0;
}
