// What a station is doing now, kept in the line database for the line page
// (line_stations, line_slots; linedb/schema_v6.sql): its heartbeat, program
// version and recipe version, and each slot as its last slot-state said it.
// A thread of its own with its own connection writes the latest state; the
// station only hands it over (a copy under a lock), so a slow or absent
// database never holds a board up. While the database is away nothing is
// queued but the latest state, written once it answers again: the page sees
// the heartbeat age meanwhile and says the station is silent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class PgConnection;

// One slot as the station shows it.
struct LiveSlot {
  std::string slot;   // hub port
  std::string name;   // the station's [slots] name for it ("" when none)
  std::string state;  // empty, writing, done, failed, interrupted
  bool present = false;
  bool taken = false;
  std::string notTaken;
  std::string item;
  int percent = 0;
  std::string reason;
  std::string reasonKind;
  bool check = false;
  std::string text;      // as the station's screen shows it
  std::string sinceUtc;  // when the slot came into this state (ISO 8601, UTC)

  bool operator==(const LiveSlot&) const = default;
};

struct LiveRecipe {
  std::string name;  // "" for none
  std::optional<int> version;
  bool away = false;  // from the image cache: the database could not be used
};

struct StationLiveTiming {
  // How often the station says it is there when nothing changes.
  std::chrono::milliseconds heartbeat{5000};
  // The longest a change waits before it is written (changes in between
  // are written together).
  std::chrono::milliseconds gather{100};
  // How long one write (connect included) may take before it is given up.
  std::chrono::milliseconds bound{2000};
};

class StationLive {
 public:
  // note: where the first failure and the first write after one are told
  // (standard error); called from the publishing thread.
  StationLive(std::string url, std::string station, std::string programVersion,
              std::function<void(const std::string&)> note, StationLiveTiming timing = {});
  // Says the station stopped (within the bound) and ends the thread.
  ~StationLive();
  StationLive(const StationLive&) = delete;
  StationLive& operator=(const StationLive&) = delete;

  void SetRecipe(const LiveRecipe& recipe);
  void SetSlot(const LiveSlot& slot);

  // Waits (at most timeout) until everything handed over so far is written;
  // false when it is not.
  bool WaitWritten(std::chrono::milliseconds timeout);

 private:
  void Run();
  bool Publish(const std::map<std::string, LiveSlot>& slots, const LiveRecipe& recipe, bool stopped);

  const std::string url_;
  const std::string station_;
  const std::string programVersion_;
  const std::string startedUtc_;
  const std::function<void(const std::string&)> note_;
  const StationLiveTiming timing_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, LiveSlot> pending_;  // slots not yet written
  LiveRecipe recipe_;
  bool recipeChanged_ = true;
  bool stopping_ = false;
  long handedOver_ = 0;  // changes handed over, and written
  long written_ = 0;
  std::condition_variable writtenChanged_;

  // The thread's own: the connection kept between writes (dropped on any
  // failure), and whether the earlier session's slots are gone from it.
  std::unique_ptr<PgConnection> db_;
  bool cleared_ = false;
  bool failing_ = false;  // the last write failed (told once)
  bool tooOld_ = false;   // the database has no live tables (told once)
  std::thread thread_;
};

// A time as the live rows store it: ISO 8601, UTC, milliseconds.
std::string LiveUtc(std::chrono::system_clock::time_point at);
inline std::string LiveUtcNow() { return LiveUtc(std::chrono::system_clock::now()); }
