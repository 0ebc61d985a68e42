// A station's live rows for the line page: written as they change, its own
// only, and never a wait for the station while the database is away.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "line_server.h"
#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"
#include "linedb/station_live.h"

namespace {

using namespace std::chrono_literals;

// The tables at the latest version, the station role, and two stations'
// own login roles in it; returns the connection string for each station.
std::pair<std::string, std::string> TwoStations(const std::string& url) {
  StationRoleOnVersion1(url);
  PgConnection admin(url);
  EXPECT_TRUE(EnsureLineSchema(admin)) << admin.Error();
  for (const char* role : {"live_station_a", "live_station_b"}) {
    EXPECT_TRUE(admin.ExecScript((std::string("DO $$ BEGIN CREATE ROLE ") + role +
                                  " LOGIN IN ROLE tamsolt_station;"
                                  " EXCEPTION WHEN duplicate_object OR unique_violation THEN END $$")
                                     .c_str()))
        << admin.Error();
  }
  const std::string base = url.substr(0, url.find(" user="));
  return {base + " user=live_station_a", base + " user=live_station_b"};
}

struct Notes {
  std::mutex mutex;
  std::vector<std::string> said;
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex);
      said.push_back(text);
    };
  }
  std::string All() {
    std::lock_guard lock(mutex);
    std::string all;
    for (const std::string& text : said) all += text + "\n";
    return all;
  }
};

LiveSlot Writing(const std::string& port, int percent) {
  LiveSlot slot;
  slot.slot = port;
  slot.name = "A<1>";
  slot.state = "writing";
  slot.present = slot.taken = true;
  slot.item = "RCDB";
  slot.percent = percent;
  slot.text = "writing RCDB " + std::to_string(percent) + "%";
  return slot;
}

}  // namespace

TEST(StationLive, TheStationsRowsFollowItsSlotsAndNoStationChangesAnothers) {
  const std::string url = FreshLineDatabase();
  const auto [a, b] = TwoStations(url);
  Notes notes;
  {
    StationLive live(a, "station-a", "1.0.8", notes.Sink());
    live.SetRecipe({"line3", 7, false});
    live.SetSlot(Writing("1-1.2", 40));
    live.SetSlot(Writing("1-1.2", 50));  // the newer state of the same slot wins
    live.SetSlot(Writing("1-1.3", 10));
    ASSERT_TRUE(live.WaitWritten(5s)) << notes.All();
    EXPECT_EQ(QueryRows(url, "SELECT station, owner, program_version, recipe, recipe_version, recipe_away,"
                             " stopped, heartbeat_utc > now() - interval '10 s' FROM line_stations"),
              std::vector<std::string>{"station-a|live_station_a|1.0.8|line3|7|f|f|t"});
    EXPECT_EQ(QueryRows(url, "SELECT slot, name, state, taken, item, percent, text FROM line_slots ORDER BY slot"),
              (std::vector<std::string>{"1-1.2|A<1>|writing|t|RCDB|50|writing RCDB 50%",
                                        "1-1.3|A<1>|writing|t|RCDB|10|writing RCDB 10%"}));

    // Another station's role can neither take the name nor touch the slots
    // (to it the first station's rows are not there to change).
    PgConnection other(b);
    EXPECT_TRUE(other.Exec("UPDATE line_slots SET state = 'done'")) << other.Error();
    EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM line_slots WHERE state = 'done'"), std::vector<std::string>{"0"});
    EXPECT_FALSE(other.Exec("INSERT INTO line_stations (station, program_version, started_utc, heartbeat_utc)"
                            " VALUES ('station-a', 'x', now(), now()) ON CONFLICT (station) DO UPDATE"
                            " SET program_version = 'x'"));
    EXPECT_FALSE(other.Exec("INSERT INTO line_slots (station, slot, state, since_utc, owner)"
                            " VALUES ('station-a', '9-9', 'done', now(), 'live_station_a')"));
    EXPECT_FALSE(other.Exec("UPDATE boards SET outcome = 'done'"));
  }
  // Its end is said, and the next session starts with no slot of the last one.
  EXPECT_EQ(QueryRows(url, "SELECT stopped FROM line_stations"), std::vector<std::string>{"t"});
  StationLive next(a, "station-a", "1.0.9", notes.Sink());
  next.SetSlot(Writing("1-1.4", 0));
  ASSERT_TRUE(next.WaitWritten(5s)) << notes.All();
  EXPECT_EQ(QueryRows(url, "SELECT slot FROM line_slots"), std::vector<std::string>{"1-1.4"});
  EXPECT_EQ(QueryRows(url, "SELECT program_version, stopped FROM line_stations"), std::vector<std::string>{"1.0.9|f"});
  EXPECT_EQ(notes.All(), "");
}

TEST(StationLive, WhileTheDatabaseIsAwayTheStationIsNeverHeldAndTheLatestStateFollows) {
  const std::string url = FreshLineDatabase();
  const std::string a = TwoStations(url).first;
  SwitchableServer server;  // starts down
  Notes notes;
  StationLiveTiming quick;
  quick.heartbeat = 200ms;
  StationLive live(server.Through(a), "station-a", "1.0.8", notes.Sink(), quick);
  const auto before = std::chrono::steady_clock::now();
  for (int percent = 0; percent <= 100; percent += 10) live.SetSlot(Writing("1-1.2", percent));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);  // handed over, not written
  EXPECT_FALSE(live.WaitWritten(300ms));
  server.Up();
  ASSERT_TRUE(live.WaitWritten(5s)) << notes.All();
  EXPECT_EQ(QueryRows(url, "SELECT percent FROM line_slots"), std::vector<std::string>{"100"});
  // Told once that it failed, once that it is back.
  const std::string said = notes.All();
  EXPECT_NE(said.find("the line page's live rows cannot be written: "), std::string::npos) << said;
  EXPECT_EQ(said.find("cannot be written", said.find("cannot be written") + 1), std::string::npos) << said;
  EXPECT_NE(said.find("the line page's live rows are written again"), std::string::npos) << said;
}

TEST(StationLive, ALineDatabaseWithoutTheLiveTablesIsToldOnceAndLeftAlone) {
  const std::string url = FreshLineDatabase();
  const std::string station = StationRoleOnVersion1(url);
  Notes notes;
  StationLiveTiming quick;
  quick.heartbeat = 50ms;
  {
    StationLive live(station, "station-a", "1.0.8", notes.Sink(), quick);
    live.SetSlot(Writing("1-1.2", 10));
    EXPECT_FALSE(live.WaitWritten(400ms));
  }
  EXPECT_EQ(notes.All(),
            "the line database has no live tables yet (version 6): the line page does not see this station\n");
  EXPECT_EQ(QueryRows(url, "SELECT to_regclass('line_slots') IS NULL"), std::vector<std::string>{"t"});
}
