#include "cli/run_events.h"

#include "cli/cli_rows.h"
#include "engine/image_pins.h"
#include "events/event_writer.h"
#include "record/transfer_context.h"
#include "run/device_port.h"
#include "settings/settings.h"

namespace {

const char* Mode(const CliOptions& options) {
  if (options.list) return "list";
  if (options.all) return "all";
  if (options.watch) return "watch";
  return "single";
}

}  // namespace

void EmitRunStart(const CliOptions& options) {
  if (!JsonEventsOn()) return;
  Event rows = Event::array();
  if (!options.list) {
    const CliRows chosen = RowsFor(options);
    for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
      Event row = {{"item", KindName(kind)},
                   {"enabled", chosen[kind].checked},
                   {"file", chosen[kind].path}};
      // A pinned row's digest, so a reader can show which build is written.
      if (const std::string digest = PinnedDigest(kind); !digest.empty()) row["sha256"] = digest;
      rows.push_back(std::move(row));
    }
  }
  // The recipe the rows come from ("" and null without one).
  const auto& taken = options.recipe.taken;
  EmitEvent("run-start", {{"program", "tamsolt-cli"},
                          {"version", TAMSOLT_VERSION},
                          {"settings", g_iniPath},
                          {"mode", Mode(options)},
                          {"rows", std::move(rows)},
                          {"recipe", taken ? taken->first : std::string()},
                          {"recipe_version", taken ? Event(taken->second) : Event(nullptr)}});
}

void EmitDeviceFound(const DeviceAddress& device) {
  EmitEvent("device-found", {{"address", device.Text()}, {"slot", PortOf(device)}},
            device.Text(), PortOf(device));
}
