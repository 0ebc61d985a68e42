#include "cli/pin_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_rows.h"
#include "cli/exit_codes.h"
#include "engine/image_pins.h"
#include "engine/sha256.h"
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
      std::fprintf(stderr, "tamsolt-cli: %s: cannot read \"%s\" to pin it\n", KindName(kind),
                   rows[kind].path.c_str());
      return AsInt(ExitCode::kRowRefused);
    }
    pins.push_back({kind, digest});
  }
  if (pins.empty()) {
    std::fprintf(stderr, "tamsolt-cli: no row to pin\n");
    return AsInt(ExitCode::kBadCommandLine);  // nothing was asked for: a usage error
  }
  for (const Pin& pin : pins) {
    if (!WriteProfileString(g_iniPath, kPinSection, KindName(pin.kind), pin.digest)) {
      std::fprintf(stderr, "tamsolt-cli: cannot write [%s] of %s\n", kPinSection, g_iniPath.c_str());
      return AsInt(ExitCode::kBadCommandLine);
    }
    std::printf("%s=%s  %s\n", KindName(pin.kind), pin.digest.c_str(), rows[pin.kind].path.c_str());
  }
  std::printf("pinned in %s\n", g_iniPath.c_str());
  return AsInt(ExitCode::kDone);
}
