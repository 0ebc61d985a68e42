#include "run/recipe_run.h"

#include <cstdio>

#include "engine/image_pins.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "record/transfer_context.h"
#include "run/ledger_options.h"
#include "run/stop_signals.h"
#include "settings/messages.h"
#include "settings/settings.h"

namespace {

// A box of its own, titled as the message table's boxes are, before any device is touched.
void ShowRecipeRefusal(const std::string& reason) {
  const std::string text = "No recipe to write: " + reason;
  NoteFailureReason(text);
  if (JsonEventsOn()) {
    EmitEvent("message", {{"title", MessageText(kMsgTitle)}, {"text", text}});
  } else {
    ShowOperatorMessage(text, MessageText(kMsgTitle), MessageIcon::Warning);
  }
}

// A take that gives nothing to write ends the run before any device: its
// exit code, said as the run's reason; 0 for a take to write.
int UnusableTakeExit(const RecipeTake& take) {
  if (take.end == RecipeTake::End::kStopped) {
    std::fprintf(stderr, "tamsolt-cli: interrupted by %s before any device was written\n",
                 StopSignalName(TakeStopSignal()));
    return AsInt(ExitCode::kInterrupted);
  }
  if (take.end == RecipeTake::End::kRefused) {
    ShowRecipeRefusal(take.reason);
    return AsInt(ExitCode::kNoRecipe);
  }
  return 0;
}

}  // namespace

std::string RecipeNameFor(const CliOptions& options) {
  if (!options.recipe.name.empty()) return options.recipe.name;
  if (options.recipe.Command() || options.ledger.Command()) return {};
  return ReadSetting("recipe", "line");
}

void UseRecipeVersion(CliOptions& options, const RecipeVersion& recipe, const std::string& cacheFolder) {
  std::array<std::string, 9> pins;
  const ImageCache cache(cacheFolder);
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    options.rows[kind].reset();
    if (row.enabled) options.rows[kind] = cache.ImagePath(row.sha256);
    pins[kind] = row.sha256;
  }
  PinRowsTo(pins);
  options.recipe.taken = std::make_pair(recipe.name, recipe.version);
  options.recipe.takenDigest = VersionRowsDigest(recipe);
  options.recipe.cacheFolder = cacheFolder;
}

void TellRecipeTake(const RecipeTake& take, std::optional<int> previous,
                    const std::function<void(const std::string&)>& note) {
  if (!take.recipe || !(take.switched || take.awayIsNew || take.backIsNew)) return;
  const RecipeVersion& recipe = *take.recipe;
  if (JsonEventsOn()) {
    Event data = {{"name", recipe.name}, {"version", recipe.version}};
    data["previous"] = previous ? Event(*previous) : Event(nullptr);
    data["away"] = take.end == RecipeTake::End::kAway;
    if (take.end == RecipeTake::End::kAway) data["reason"] = take.reason;
    data["fetched"] = take.fetched;
    Event rows = Event::array();  // with the names the files were published under
    for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
      const RecipeRow& row = recipe.rows[kind];
      Event item = {{"item", KindName(kind)}, {"enabled", row.enabled}, {"file", row.fileName}};
      if (row.enabled) item["sha256"] = row.sha256;
      rows.push_back(std::move(item));
    }
    data["rows"] = std::move(rows);
    EmitEvent("recipe", std::move(data));
  }
  std::string text = "recipe " + RecipeLabel(recipe.name, recipe.version);
  if (take.fetched > 0) text += " (" + std::to_string(take.fetched) + " image(s) fetched)";
  if (take.end == RecipeTake::End::kAway && take.awayIsNew) {
    text = "the line database cannot be used (" + take.reason + "): writing " +
           RecipeLabel(recipe.name, recipe.version) + " from the image cache";
  } else if (take.backIsNew) {
    text = "the line database answers again: " + text;
  }
  if (note) note(text);
}

int PrepareRecipeRun(CliOptions& options, std::unique_ptr<RecipeSource>& source,
                     std::optional<RecipeTake>& first) {
  if (options.recipe.cacheFolder.empty()) options.recipe.cacheFolder = DefaultImageCacheFolder();
  if (const auto taken = options.recipe.taken) {  // a child of --all or --watch
    std::string error;
    const std::optional<RecipeVersion> recipe = ImageCache(options.recipe.cacheFolder)
                                                    .LoadVersion(taken->first, taken->second,
                                                                 options.recipe.takenDigest, error);
    if (!recipe) {
      ShowRecipeRefusal(error);
      return AsInt(ExitCode::kNoRecipe);
    }
    UseRecipeVersion(options, *recipe, options.recipe.cacheFolder);
    return 0;
  }
  const std::string name = RecipeNameFor(options);
  if (name.empty() || options.list) return 0;
  if (!IsRecipeName(name)) {
    return EarlyError(AsInt(ExitCode::kBadCommandLine),
                      "recipe= in section [line] of " + g_iniPath + " is not a recipe name: \"" + name + "\"");
  }
  if (options.RowsNamed()) {
    return EarlyError(AsInt(ExitCode::kBadCommandLine),
                      "the settings file names the recipe " + name +
                          " in section [line]; row options cannot be given beside it");
  }
  source = std::make_unique<RecipeSource>(name, LedgerUrlFor(options.ledger), options.recipe.cacheFolder,
                                          StopSignalFd());
  const RecipeTake take = source->Take();
  if (const int code = UnusableTakeExit(take); code != 0) return code;
  first = take;
  UseRecipeVersion(options, *take.recipe, options.recipe.cacheFolder);
  return 0;
}

int RetakeRecipeAfterWait(CliOptions& options, RecipeSource& source,
                          const std::function<void(const std::string&)>& note,
                          std::optional<RecipeTake>& take) {
  const std::optional<int> before =
      options.recipe.taken ? std::optional<int>(options.recipe.taken->second) : std::nullopt;
  take = source.Take();
  if (const int code = UnusableTakeExit(*take); code != 0) return code;
  UseRecipeVersion(options, *take->recipe, options.recipe.cacheFolder);
  TellRecipeTake(*take, before, note);
  return 0;
}
