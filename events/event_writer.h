// --json: standard output carries one JSON object per line and nothing else
// (docs/events.md). Every object is one envelope:
//   {"schema":1,"kind":"...","time":"2026-12-08T14:11:37.123Z",
//    "device":"001:004","slot":"1-1.3","data":{...}}
// device and slot are there when the run is about one device. A field added
// later raises nothing; a field renamed or removed raises "schema". Readers
// ignore kinds and fields they do not know.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

inline constexpr int kEventSchema = 1;
// Fields in the order they are set, so the envelope comes first on each line.
using Event = nlohmann::ordered_json;

// Turns the events on; device and slot name every following event (empty: none).
void EnableJsonEvents(const std::string& device, const std::string& slot);
bool JsonEventsOn();
// Writes one event and flushes it at once; nothing while events are off.
void EmitEvent(const std::string& kind, Event data,
               const std::string& device = {}, const std::string& slot = {});
// One line already an event (a child's): passed on as it is.
void PassOnEventLine(const std::string& line);

// The box text that explains a failure (the message table's words), for the outcome.
void NoteFailureReason(const std::string& text);
// What NoteFailureReason last noted ("" none).
const std::string& NotedFailureReason();
// A field the outcome carries besides its own (--publish: the version).
void NoteOutcomeField(const std::string& key, Event value);
// The run's last event: exit code, its name, seconds since the events were
// turned on, and with a failure the last box's text.
void EmitOutcome(int exitCode);
// An error before the run starts (bad command line, settings or log file):
// the text on standard error, and with events on an outcome that says why.
int EarlyError(int exitCode, const std::string& text);
