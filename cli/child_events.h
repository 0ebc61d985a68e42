// Reading the event lines of a station's children (--watch): only what the
// supervisor acts on, taken so that no line can throw. A line that is not an
// event, or whose field has the wrong type, is reported as such, never an
// exception in the supervisor.
#pragma once

#include <optional>
#include <string>

struct ChildEvent {
  std::string kind;
  std::string item;     // progress
  int percent = 0;      // progress, 0..100
  std::string text;     // log: the line; message: the box's text
  std::string title;    // message
  std::string reason;   // outcome: its reason, else its exit name
  bool failure = false;  // message: the box that tells the run failed
  std::optional<int> exitCode;  // outcome; a failure's message: the code the run ends with
};

// nullopt: not a JSON object with a string "kind" and an object "data".
// Fields of a wrong type read as absent.
std::optional<ChildEvent> ReadChildEvent(const std::string& line);
