#include "cli/line_live.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <type_traits>

#include "events/exit_codes.h"
#include "settings/settings.h"
#include "settings/slot_names.h"
#include "settings/station_name.h"
#include "supervisor/board_slot_line.h"

namespace {

template <typename T>
T Field(const Event& data, const char* key, T otherwise) {
  const auto found = data.find(key);
  if (found == data.end() || found->is_null()) return otherwise;
  if constexpr (std::is_same_v<T, bool>) return found->is_boolean() ? found->template get<bool>() : otherwise;
  if constexpr (std::is_same_v<T, int>) return found->is_number() ? found->template get<int>() : otherwise;
  if constexpr (std::is_same_v<T, std::string>) {
    return found->is_string() ? found->template get<std::string>() : otherwise;
  }
}

}  // namespace

LiveSlot LiveSlotOf(const std::string& slot, const SlotLine& line, const std::string& name) {
  LiveSlot live;
  live.slot = slot;
  live.name = name;
  live.state = Field<std::string>(line.data, "state", "");
  live.present = Field<bool>(line.data, "present", false);
  live.taken = Field<bool>(line.data, "taken", false);
  live.notTaken = Field<std::string>(line.data, "not_taken", "");
  live.item = Field<std::string>(line.data, "item", "");
  live.percent = Field<int>(line.data, "percent", 0);
  live.reason = Field<std::string>(line.data, "reason", "");
  live.reasonKind = Field<std::string>(line.data, "reason_kind", "");
  live.check = Field<bool>(line.data, "check", false);
  live.text = line.text;
  // It came into this state line.seconds ago.
  live.sinceUtc = LiveUtc(std::chrono::system_clock::now() - std::chrono::seconds(line.seconds));
  return live;
}

std::unique_ptr<StationLive> StationLiveFor(const CliOptions& options) {
  const std::string url = LedgerUrlFor(options.ledger);
  if (url.empty()) return nullptr;
  return std::make_unique<StationLive>(url, StationName(g_iniPath), TAMSOLT_VERSION, [](const std::string& text) {
    std::fprintf(stderr, "tamsolt-cli: %s\n", text.c_str());
  });
}

LiveRecipe LiveRecipeOf(const CliOptions& options, const std::optional<RecipeTake>& firstTake) {
  const auto& taken = options.recipe.taken;
  if (!taken) return {};
  const bool away = firstTake && firstTake->end == RecipeTake::End::kAway && firstTake->recipe &&
                    firstTake->recipe->version == taken->second;
  return {taken->first, taken->second, away};
}

StationListeners LiveListeners(StationLive* live, const LiveRecipe& recipe) {
  if (live == nullptr) return {};
  if (!recipe.name.empty()) live->SetRecipe(recipe);
  StationListeners listeners;
  listeners.slotChanged = [live, names = ReadSlotNames(g_iniPath)](const std::string& slot,
                                                                              const SlotLine& line) {
    const auto name = names.find(slot);
    live->SetSlot(LiveSlotOf(slot, line, name != names.end() ? name->second : ""));
  };
  listeners.recipeTaken = [live](const RecipeTake& take) {
    live->SetRecipe({take.recipe->name, take.recipe->version, take.end == RecipeTake::End::kAway});
  };
  return listeners;
}

LiveSingleRun::LiveSingleRun(std::unique_ptr<StationLive> live, const LiveRecipe& recipe,
                             std::string device, std::string slot)
    : live_(std::move(live)), device_(std::move(device)), slot_(std::move(slot)) {
  const auto names = ReadSlotNames(g_iniPath);
  if (const auto name = names.find(slot_); name != names.end()) name_ = name->second;
  if (!recipe.name.empty()) live_->SetRecipe(recipe);
  Writing("", 0);
}

void LiveSingleRun::Writing(const std::string& item, int percent) {
  if (!live_) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  live_->SetSlot(LiveSlotOf(slot_, WritingSlotLine(device_, item, percent, seconds.count()), name_));
}

void LiveSingleRun::Ended(int exitCode, const std::string& reason) {
  if (!live_) return;
  const bool interrupted = exitCode == AsInt(ExitCode::kInterrupted);
  live_->SetSlot(LiveSlotOf(slot_, EndedSlotLine(device_, exitCode, reason, interrupted ? "interrupted" : "box"),
                            name_));
  live_.reset();  // writes what is handed over, then the stop
}
