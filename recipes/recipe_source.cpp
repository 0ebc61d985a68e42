#include "recipes/recipe_source.h"

#include "recipes/recipe_store.h"
#include "record/transfer_context.h"

RecipeSource::RecipeSource(std::string name, std::string url, std::string cacheFolder, int stopFd,
                           std::function<Clock::time_point()> now)
    : name_(std::move(name)),
      url_(std::move(url)),
      cache_(std::move(cacheFolder)),
      stopFd_(stopFd),
      now_(std::move(now)) {}

std::optional<RecipeVersion> RecipeSource::FromDatabase(RecipeTake& take, std::string& error,
                                                        std::string& refusal) {
  if (url_.empty()) {
    error = "no line database: [ledger] url is empty";
    return std::nullopt;
  }
  // A connection of its own per take: a server restarted or a network cut
  // since the last board costs a connect (2 s at most), not a reply time.
  PgConnection db(url_, PgWaitLimits{stopFd_});
  if (!db.Ok()) {
    stopped_ = db.Stopped();
    error = "line database " + db.Describe() + ": " + db.Error();
    return std::nullopt;
  }
  std::optional<RecipeVersion> active = ActiveRecipe(db, name_, error);
  if (!active) {
    stopped_ = db.Stopped();
    if (error.empty()) refusal = "the line database has no active version of the recipe " + name_;
    return std::nullopt;
  }
  // The database answers from here on: a version it names that cannot be
  // taken whole refuses the board; an older version is never written for it.
  // Only a database that stops answering (the connection lost) is away.
  const auto cannotTake = [&](const std::string& why) {
    stopped_ = db.Stopped();
    if (db.Ok() || stopped_) {
      refusal = RecipeLabel(name_, active->version) + ", the active version, cannot be taken: " + why;
    } else {
      error = why;
    }
    return std::nullopt;
  };
  if (!HasEnabledRow(*active)) return cannotTake("it has no enabled row");
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = active->rows[kind];
    if (!row.enabled || cache_.Holds(row.sha256, row.bytes)) continue;
    const bool stored = cache_.Store(
        row.sha256,
        [&](const ImageCache::Sink& sink, std::string& fetchError) {
          return FetchImage(db, row.sha256, sink, fetchError);
        },
        error);
    if (!stored) return cannotTake(std::string(KindName(kind)) + ": " + error);
    ++take.fetched;
    if (!cache_.Holds(row.sha256, row.bytes)) {
      return cannotTake(std::string(KindName(kind)) + ": the stored image " + row.sha256.substr(0, 12) +
                        " in the line database is damaged (it is not of the version's size)");
    }
  }
  if (std::string saveError; !cache_.SaveVersion(*active, saveError) ||
                             !cache_.SetLastWhole(*active, saveError)) {
    refusal = RecipeLabel(name_, active->version) + ", the active version, cannot be taken: " + saveError;
    return std::nullopt;
  }
  return active;
}

RecipeTake RecipeSource::Finish(RecipeTake take) {
  if (take.recipe) {
    take.switched = !lastTaken_ || *lastTaken_ != take.recipe->version;
    lastTaken_ = take.recipe->version;
  }
  const bool wasAway = away_;
  away_ = take.end == RecipeTake::End::kAway;
  take.awayIsNew = away_ && !wasAway;
  take.backIsNew = wasAway && take.end == RecipeTake::End::kTaken;
  return take;
}

RecipeTake RecipeSource::Take() {
  RecipeTake take;
  std::string error;
  std::string refusal;
  stopped_ = false;
  cache_.RemoveLeftovers();
  const Clock::time_point now = now_();
  take.askedDatabase = !away_ || now - lastAsked_ >= kRecipeAwayRetry;
  if (take.askedDatabase) {
    lastAsked_ = now;
    take.recipe = FromDatabase(take, error, refusal);
    awayReason_ = error;
  } else {
    error = awayReason_;
  }
  if (stopped_) {
    take.recipe.reset();
    take.end = RecipeTake::End::kStopped;
    take.reason = "stopped while waiting for the line database";
    return take;
  }
  if (take.recipe) {
    take.end = RecipeTake::End::kTaken;
    return Finish(std::move(take));
  }
  if (!refusal.empty()) {
    take.end = RecipeTake::End::kRefused;
    take.reason = refusal;
    return Finish(std::move(take));
  }
  // The database cannot be used: the last version held whole, checked whole again.
  const std::optional<ImageCache::Whole> last = cache_.LastWhole(name_);
  std::string loadError;
  std::optional<RecipeVersion> cached =
      last ? cache_.LoadVersion(name_, last->version, last->digest, loadError) : std::nullopt;
  if (!cached) {
    take.end = RecipeTake::End::kRefused;
    take.reason = (loadError.empty() ? "no version of the recipe " + name_ + " is held whole in the image cache " +
                                           cache_.Folder()
                                     : loadError) +
                  ", and " + error;
    return Finish(std::move(take));
  }
  if (const std::optional<std::uint8_t> missing = cache_.FirstRowNotHeld(*cached)) {
    take.end = RecipeTake::End::kRefused;
    take.reason = RecipeLabel(name_, last->version) + " is held only in part in the image cache " + cache_.Folder() +
                  " (" + KindName(*missing) + "'s image is missing or changed), and " + error;
    return Finish(std::move(take));
  }
  take.end = RecipeTake::End::kAway;
  take.recipe = std::move(cached);
  take.reason = error;
  return Finish(std::move(take));
}
