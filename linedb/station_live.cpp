#include "linedb/station_live.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLiveSchema = 6;

constexpr const char* kStationRow =
    "INSERT INTO line_stations (station, program_version, started_utc, heartbeat_utc, recipe,"
    " recipe_version, recipe_away, stopped)"
    " VALUES ($1, $2, $3::timestamptz, now(), $4, $5::integer, $6::boolean, $7::boolean)"
    " ON CONFLICT (station) DO UPDATE SET program_version = EXCLUDED.program_version,"
    " started_utc = EXCLUDED.started_utc, heartbeat_utc = now(), recipe = EXCLUDED.recipe,"
    " recipe_version = EXCLUDED.recipe_version, recipe_away = EXCLUDED.recipe_away,"
    " stopped = EXCLUDED.stopped";

constexpr const char* kSlotRow =
    "INSERT INTO line_slots (station, slot, name, state, present, taken, not_taken, item, percent,"
    " reason, reason_kind, check_slot, text, since_utc)"
    " VALUES ($1, $2, $3, $4, $5::boolean, $6::boolean, $7, $8, $9::integer, $10, $11, $12::boolean,"
    " $13, $14::timestamptz)"
    " ON CONFLICT (station, slot) DO UPDATE SET name = EXCLUDED.name, state = EXCLUDED.state,"
    " present = EXCLUDED.present, taken = EXCLUDED.taken, not_taken = EXCLUDED.not_taken,"
    " item = EXCLUDED.item, percent = EXCLUDED.percent, reason = EXCLUDED.reason,"
    " reason_kind = EXCLUDED.reason_kind, check_slot = EXCLUDED.check_slot, text = EXCLUDED.text,"
    " since_utc = EXCLUDED.since_utc";

// The slots of an earlier session of this station are not the slots of this one.
constexpr const char* kOldSlots = "DELETE FROM line_slots WHERE station = $1";

PgValue BoolValue(bool value) { return PgValue::Text(value ? "true" : "false"); }

}  // namespace

std::string LiveUtc(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return text;
}

StationLive::StationLive(std::string url, std::string station, std::string programVersion,
                         std::function<void(const std::string&)> note, StationLiveTiming timing)
    : url_(std::move(url)),
      station_(std::move(station)),
      programVersion_(std::move(programVersion)),
      startedUtc_(LiveUtcNow()),
      note_(std::move(note)),
      timing_(timing),
      thread_([this] { Run(); }) {}

StationLive::~StationLive() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void StationLive::SetRecipe(const LiveRecipe& recipe) {
  {
    std::lock_guard lock(mutex_);
    recipe_ = recipe;
    recipeChanged_ = true;
    ++handedOver_;
  }
  changed_.notify_all();
}

void StationLive::SetSlot(const LiveSlot& slot) {
  {
    std::lock_guard lock(mutex_);
    pending_[slot.slot] = slot;
    ++handedOver_;
  }
  changed_.notify_all();
}

bool StationLive::WaitWritten(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const long upTo = handedOver_;
  return writtenChanged_.wait_for(lock, timeout, [&] { return written_ >= upTo; });
}

void StationLive::Run() {
  std::unique_lock lock(mutex_);
  // The first write says the station is there at once.
  Clock::time_point nextBeat = Clock::now();
  Clock::time_point retryAt = Clock::now();
  for (;;) {
    const auto due = [&] {
      return stopping_ || ((!pending_.empty() || recipeChanged_) && Clock::now() >= retryAt);
    };
    changed_.wait_until(lock, nextBeat, due);
    // A burst of changes (every slot at the start of a board) goes in one write.
    if (!stopping_) changed_.wait_for(lock, timing_.gather, [&] { return stopping_; });
    std::map<std::string, LiveSlot> slots = std::move(pending_);
    pending_.clear();
    const LiveRecipe recipe = recipe_;
    const bool recipeWas = recipeChanged_;
    recipeChanged_ = false;
    const long upTo = handedOver_;
    const bool stop = stopping_;
    lock.unlock();
    const bool ok = Publish(slots, recipe, stop);
    lock.lock();
    const auto now = Clock::now();
    if (ok) {
      written_ = upTo;
      writtenChanged_.notify_all();
      retryAt = now;
    } else {
      // Kept for the next write; a newer state of the same slot wins.
      for (auto& [port, slot] : slots) pending_.try_emplace(port, std::move(slot));
      recipeChanged_ = recipeChanged_ || recipeWas;
      retryAt = now + timing_.heartbeat;
    }
    nextBeat = now + timing_.heartbeat;
    if (stop) break;
  }
  db_.reset();
}

bool StationLive::Publish(const std::map<std::string, LiveSlot>& slots, const LiveRecipe& recipe, bool stopped) {
  const auto fail = [&](const std::string& what) {
    db_.reset();
    if (!failing_) note_("the line page's live rows cannot be written: " + what);
    failing_ = true;
    return false;
  };
  if (!db_) {
    PgWaitLimits limits;
    limits.replyTime = timing_.bound;
    db_ = std::make_unique<PgConnection>(url_, limits);
    cleared_ = false;
    if (!db_->Ok()) return fail(db_->Error());
    // Made or brought up as the forwarder does, where this role may.
    const std::optional<LineSchema> schema = EnsureLineSchema(*db_);
    if (!schema) return fail(db_->Error());
    if (schema->version < kLiveSchema) {
      db_.reset();
      if (!tooOld_) {
        note_("the line database has no live tables yet (version " + std::to_string(kLiveSchema) +
              "): the line page does not see this station");
      }
      tooOld_ = true;
      return false;
    }
    tooOld_ = false;
  }
  PgConnection& db = *db_;
  if (!db.Exec("BEGIN")) return fail(db.Error());
  const bool station =
      static_cast<bool>(db.Exec(kStationRow, {PgValue::Text(station_), PgValue::Text(programVersion_),
                                              PgValue::Text(startedUtc_),
                                              recipe.name.empty() ? PgValue::Null() : PgValue::Text(recipe.name),
                                              recipe.version ? PgValue::Text(std::to_string(*recipe.version))
                                                             : PgValue::Null(),
                                              BoolValue(recipe.away), BoolValue(stopped)}));
  if (!station) {
    const std::string why = db.Error();
    db.Rollback();
    return fail(why);
  }
  if (!cleared_ && !db.Exec(kOldSlots, {PgValue::Text(station_)})) {
    const std::string why = db.Error();
    db.Rollback();
    return fail(why);
  }
  for (const auto& [port, slot] : slots) {
    const bool written = static_cast<bool>(db.Exec(
        kSlotRow, {PgValue::Text(station_), PgValue::Text(port), PgValue::Text(slot.name), PgValue::Text(slot.state),
                   BoolValue(slot.present), BoolValue(slot.taken), PgValue::Text(slot.notTaken), PgValue::Text(slot.item),
                   PgValue::Text(std::to_string(slot.percent)), PgValue::Text(slot.reason),
                   PgValue::Text(slot.reasonKind), BoolValue(slot.check), PgValue::Text(slot.text),
                   PgValue::Text(slot.sinceUtc.empty() ? LiveUtcNow() : slot.sinceUtc)}));
    if (!written) {
      const std::string why = db.Error();
      db.Rollback();
      return fail(why);
    }
  }
  if (!db.Exec("COMMIT")) return fail(db.Error());
  cleared_ = true;
  if (failing_) note_("the line page's live rows are written again");
  failing_ = false;
  return true;
}
