#include "cli/cli_rows.h"

#include "settings/settings.h"
#include "record/transfer_context.h"

CliRows RowsFor(const CliOptions& options) {
  CliRows rows;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (options.RowsNamed()) {
      rows[kind] = {options.rows[kind].has_value(), options.rows[kind].value_or("")};
    } else {
      rows[kind] = {ReadSettingInt("setup", KindName(kind), 0) != 0,
                    ReadSetting(KindName(kind), "PATH")};
    }
  }
  return rows;
}
