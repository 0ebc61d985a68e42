// Fuzz target: the station window's event reader and slot model on any lines.
//
// Input: lines of text, each read as one line of `tamsolt-cli --json` output
// and applied to one model in turn, as the window does. Reading must never
// throw or crash, whatever the line (wrong field types, bytes that are not
// UTF-8, huge numbers, deep nesting); what the model then shows must stay
// within its bounds: a percentage of 0 to 100, never a board shown done in a
// slot whose last word was that its board is not taken.
#include <string>
#include <string_view>

#include "events/event_reader.h"
#include "station/slot_model.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

bool SaysNotTaken(const StationEvent& event) {
  return event.kind == EventKind::kSlotState && event.present.value_or(true) &&
         (event.taken == false || !event.notTaken.empty()) && event.state != "writing";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  StationModel model;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::optional<StationEvent> event = ParseEventLine(std::string(input.substr(start, end - start)));
    start = end + 1;
    if (!event) continue;
    model.Apply(*event);
    for (const Slot* slot : model.Slots()) {
      Require(slot->percent >= 0 && slot->percent <= 100, "a percentage stays within 0 to 100");
      Require(StationModel::ElapsedSeconds(*slot, 0) >= 0, "no time runs backwards");
    }
    if (SaysNotTaken(*event) && !event->slot.empty()) {
      const Slot* slot = model.Find(event->slot);
      Require(slot != nullptr && slot->state != SlotState::kDone, "a board not taken is never done");
    }
  }
  model.TallyAt(0);
  model.RunEnded(0, "ended");
  Require(!model.AnyWriting(), "no board writing once the run ended");
  return 0;
}
