#include "supervisor/slot_view.h"

#include "events/event_writer.h"

std::string TallyText(const Tally& tally) {
  char text[96];
  std::snprintf(text, sizeof text, "written %ld, failed %ld", tally.written, tally.failed);
  std::string shown = text;
  if (tally.interrupted > 0) shown += ", interrupted " + std::to_string(tally.interrupted);
  if (!tally.perHour) return shown;
  char rate[48];
  std::snprintf(rate, sizeof rate, ", %.0f boards/hour", *tally.perHour);
  return shown + rate;
}

void SlotView::Erase() {
  if (drawnLines_ > 0) std::printf("\033[%dA\r\033[J", drawnLines_);
  drawnLines_ = 0;
}

void SlotView::Line(const std::string& slot, const std::string& text) {
  if (mode_ == Mode::kJson) return;  // the child's own event says it
  Erase();
  std::printf("[%s] %s\n", slot.c_str(), text.c_str());
  std::fflush(stdout);
}

void SlotView::Note(const std::string& text) {
  if (mode_ == Mode::kJson) {
    EmitEvent("station", {{"text", text}});
    return;
  }
  Erase();
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void SlotView::Show(const std::map<std::string, SlotLine>& slots, const Tally& tally) {
  if (mode_ == Mode::kTerminal) {
    Erase();
    for (const auto& [slot, state] : slots) {
      std::printf("%-12s %-60s %ld:%02ld\033[K\n", slot.c_str(), state.text.c_str(),
                  state.seconds / 60, state.seconds % 60);
      ++drawnLines_;
    }
    std::printf("%s\033[K\n", TallyText(tally).c_str());
    ++drawnLines_;
    std::fflush(stdout);
    return;
  }
  for (const auto& [slot, state] : slots) {
    if (shown_.count(slot) != 0 && shown_[slot] == state.text) continue;
    shown_[slot] = state.text;
    if (mode_ == Mode::kJson) {
      Event data = state.data;
      data["text"] = state.text;
      EmitEvent("slot-state", std::move(data), state.data.value("device", ""), slot);
    } else {
      std::printf("%s %s\n", slot.c_str(), state.text.c_str());
    }
  }
  if (!(tally == shownTally_)) {
    shownTally_ = tally;
    if (mode_ == Mode::kJson) {
      EmitEvent("tally", {{"written", tally.written}, {"failed", tally.failed},
                          {"interrupted", tally.interrupted},
                          {"per_hour", tally.perHour ? Event(*tally.perHour) : Event(nullptr)}});
    } else {
      std::printf("%s\n", TallyText(tally).c_str());
    }
  }
  std::fflush(stdout);
}
