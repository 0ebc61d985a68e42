#include "cli/pin_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_rows.h"
#include "engine/image_pins.h"
#include "engine/sha256.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "record/transfer_context.h"
#include "settings/settings.h"

int RunPinCommand(const CliOptions& options) {
  const CliRows rows = RowsFor(options);
  struct Pin {
    std::uint8_t kind;
    std::string digest;
  };
  std::vector<Pin> pins;
  // Every row is read before anything is written, so a bad row pins none.
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (!rows[kind].checked) continue;
    const std::string digest = rows[kind].path.empty() ? std::string() : Sha256OfFile(rows[kind].path);
    if (digest.empty()) {
      return EarlyError(AsInt(ExitCode::kRowRefused), std::string(KindName(kind)) + ": cannot read \"" +
                                                          rows[kind].path + "\" to pin it");
    }
    pins.push_back({kind, digest});
  }
  // Nothing was asked for: a usage error.
  if (pins.empty()) return EarlyError(AsInt(ExitCode::kBadCommandLine), "no row to pin");
  for (const Pin& pin : pins) {
    if (!WriteProfileString(g_iniPath, kPinSection, KindName(pin.kind), pin.digest)) {
      return EarlyError(AsInt(ExitCode::kBadCommandLine),
                        std::string("cannot write [") + kPinSection + "] of " + g_iniPath);
    }
    if (JsonEventsOn()) {
      EmitEvent("pinned", {{"item", KindName(pin.kind)}, {"file", rows[pin.kind].path},
                           {"sha256", pin.digest}, {"settings", g_iniPath}});
    } else {
      std::printf("%s=%s  %s\n", KindName(pin.kind), pin.digest.c_str(), rows[pin.kind].path.c_str());
    }
  }
  if (!JsonEventsOn()) std::printf("pinned in %s\n", g_iniPath.c_str());
  return AsInt(ExitCode::kDone);
}
