// The station's live rows for the line page: its slots as the supervisor
// shows them (with the names of the settings file's [slots]) and the recipe
// version it writes, handed to the line database's publisher.
#pragma once

#include <memory>

#include "linedb/station_live.h"
#include "run/cli_options.h"
#include "supervisor/station_watch.h"

// A --watch station's publisher, or null without a line database (url);
// what it cannot write is told on standard error, once.
std::unique_ptr<StationLive> StationLiveFor(const CliOptions& options);

// The supervisor's listeners that keep live's rows; with no publisher none.
StationListeners LiveListeners(StationLive* live, const CliOptions& options);

// One slot-state as the live row keeps it; since: its time in this state ends now.
LiveSlot LiveSlotOf(const std::string& slot, const SlotLine& line, const std::string& name);
