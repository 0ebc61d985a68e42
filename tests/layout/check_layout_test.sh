#!/usr/bin/env bash
# The layout check finds what climbs: a made-up tree with one breach of each
# sort is refused with each named, and the same tree without them passes.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{record,engine,events,supervisor,cli,station,sim}
cat >"$tree/supervisor/slot.h" <<'END'
#include "events/event_reader.h"
#include "engine/batch.h"
END
cat >"$tree/events/CMakeLists.txt" <<'END'
add_library(tamsolt_events STATIC reader.cpp)
target_link_libraries(tamsolt_events PUBLIC
  nlohmann_json::nlohmann_json)
END
cat >"$tree/supervisor/CMakeLists.txt" <<'END'
add_library(tamsolt_supervisor STATIC slot.cpp)
target_link_libraries(tamsolt_supervisor PUBLIC tamsolt_events)
END
cat >"$tree/cli/CMakeLists.txt" <<'END'
add_executable(tamsolt_cli_program main.cpp)
END
echo '#include "supervisor/slot.h"' >"$tree/cli/main.cpp"
echo '#include <QWidget>' >"$tree/station/window.cpp"
bash "$check" "$tree" >/dev/null

# One breach of each sort.
echo '#include "cli/options.h"' >>"$tree/supervisor/slot.h"
echo '#include "station/slot_model.h"' >"$tree/cli/rows.h"
echo '#include "sim/device.h"' >"$tree/record/record.h"
echo '#include <QtCore/QObject>' >"$tree/engine/host.h"
sed -i 's/nlohmann_json::nlohmann_json)/nlohmann_json::nlohmann_json tamsolt_supervisor)/' "$tree/events/CMakeLists.txt"
if said=$(bash "$check" "$tree" 2>&1); then
  echo "the breaches passed the check" >&2
  exit 1
fi
for breach in "supervisor/ includes cli/" "cli/ includes station/" "record/ includes sim/" \
  "a Qt header in engine/" "tamsolt_events (events/) links tamsolt_supervisor (supervisor/)" "5 breaches"; do
  grep -qF "$breach" <<<"$said" || { echo "not named: $breach"$'\n'"$said" >&2; exit 1; }
done
