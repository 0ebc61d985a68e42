#include "cli/recipe_commands.h"

#include <array>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli_rows.h"
#include "engine/image_files.h"
#include "engine/image_pins.h"
#include "engine/image_refusals.h"
#include "engine/press_check.h"
#include "engine/sha256.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "ledger/ledger.h"
#include "recipes/recipe_store.h"
#include "record/transfer_context.h"
#include "run/ledger_options.h"
#include "run/stop_signals.h"

namespace {

// The line database as the tables' owner would use it; nullopt with the
// exit code's reason said.
std::unique_ptr<PgConnection> Connect(const CliOptions& options, int& code) {
  const std::string url = LedgerUrlFor(options.ledger);
  if (url.empty()) {
    code = EarlyError(AsInt(ExitCode::kBadCommandLine),
                      "no line database: set [ledger] url in the settings file or give --ledger-url");
    return nullptr;
  }
  auto db = std::make_unique<PgConnection>(url, PgWaitLimits{StopSignalFd()});
  if (!db->Ok()) {
    code = EarlyError(AsInt(db->Stopped() ? ExitCode::kInterrupted : ExitCode::kBadCommandLine),
                      "line database " + db->Describe() + ": " + db->Error());
    return nullptr;
  }
  return db;
}

int Refused(PgConnection& db, const std::string& error) {
  return EarlyError(AsInt(db.Stopped() ? ExitCode::kInterrupted : ExitCode::kBadCommandLine), error);
}

std::string Who() { return BoardIdentity("tamsolt-cli", "", "").operatorName; }

Event RowsEvent(const RecipeVersion& recipe) {
  Event rows = Event::array();
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    Event item = {{"item", KindName(kind)}, {"enabled", row.enabled}};
    if (row.enabled) {
      item["file"] = row.fileName;
      item["sha256"] = row.sha256;
      item["bytes"] = row.bytes;
    }
    rows.push_back(std::move(item));
  }
  return rows;
}

int Publish(const CliOptions& options) {
  RecipeVersion recipe;
  recipe.name = *options.recipe.publish;
  recipe.note = options.recipe.note.value_or("");
  const CliRows rows = RowsFor(options);
  // Every file is checked as a run's press would check it, pins included,
  // before anything is stored: a version published is one every station can write.
  bool any = false;
  std::array<std::string, 9> checked;  // the digest of each file as checked
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (!rows[kind].checked) continue;
    any = true;
    const std::string& path = rows[kind].path;
    std::uint8_t header[kImageHeaderSize] = {};
    const PressRefusal refusal = CheckRowAtPress(kind, path, g_transfer.expectedImageTag, header);
    if (!refusal.ok()) {
      return EarlyError(AsInt(ExitCode::kRowRefused), "\"" + path + "\": " + PressRefusalText(kind, refusal));
    }
    const std::string pinned = PinnedDigest(kind);
    checked[kind] = Sha256OfFile(path);
    if (!pinned.empty() && checked[kind] != pinned) {
      return EarlyError(AsInt(ExitCode::kRowRefused),
                        "\"" + path + "\": " + PinMismatchText(kind, checked[kind], pinned));
    }
  }
  if (!any) return EarlyError(AsInt(ExitCode::kBadCommandLine), "no row to publish");
  int code = 0;
  std::unique_ptr<PgConnection> db = Connect(options, code);
  if (!db) return code;
  if (std::string why; !EnsureRecipeTables(*db, why)) return Refused(*db, "the recipe tables: " + why);
  int uploaded = 0;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (!rows[kind].checked) continue;
    std::string error;
    const std::optional<StoredImage> image = StoreImageFile(*db, rows[kind].path, error);
    if (!image) return Refused(*db, std::string(KindName(kind)) + ": " + error);
    // What is published is what was checked: a file replaced since is not.
    if (image->sha256 != checked[kind]) {
      return EarlyError(AsInt(ExitCode::kRowRefused),
                        "\"" + rows[kind].path + "\": the file changed after it was checked (its SHA-256 " +
                            checked[kind].substr(0, 12) + " then, " + image->sha256.substr(0, 12) +
                            " when stored): nothing is published");
    }
    uploaded += image->uploaded ? 1 : 0;
    recipe.rows[kind] = {true, std::filesystem::path(rows[kind].path).filename().string(), image->sha256,
                         image->bytes};
  }
  std::string error;
  const std::optional<int> version = PublishVersion(*db, recipe, Who(), error);
  if (!version) return Refused(*db, error);
  if (JsonEventsOn()) {
    NoteOutcomeField("recipe", recipe.name);
    NoteOutcomeField("recipe_version", *version);
    NoteOutcomeField("images_uploaded", uploaded);
  } else {
    std::printf("%s: version %d published and active (%d image(s) uploaded)\n", recipe.name.c_str(), *version,
                uploaded);
  }
  return AsInt(ExitCode::kDone);
}

int Activate(const CliOptions& options) {
  const auto& [name, version] = *options.recipe.activate;
  int code = 0;
  std::unique_ptr<PgConnection> db = Connect(options, code);
  if (!db) return code;
  std::string error;
  if (!EnsureRecipeTables(*db, error)) return Refused(*db, "the recipe tables: " + error);
  if (!ActivateVersion(*db, name, version, Who(), error)) return Refused(*db, error);
  if (JsonEventsOn()) {
    NoteOutcomeField("recipe", name);
    NoteOutcomeField("recipe_version", version);
  } else {
    std::printf("%s: version %d active\n", name.c_str(), version);
  }
  return AsInt(ExitCode::kDone);
}

// Text from the database shown as data on one line: a new line or another
// control character in a note cannot make a line of the listing's own.
std::string OneLine(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if ((static_cast<unsigned char>(c) < 0x20) || c == 0x7f) {
      shown += '?';
    } else {
      shown += c;
    }
  }
  return shown;
}

int List(const CliOptions& options) {
  int code = 0;
  std::unique_ptr<PgConnection> db = Connect(options, code);
  if (!db) return code;
  std::string error;
  if (!EnsureRecipeTables(*db, error)) return Refused(*db, "the recipe tables: " + error);
  const std::optional<std::vector<RecipeVersion>> recipes = ListRecipes(*db, error);
  if (!recipes) return Refused(*db, error);
  for (const RecipeVersion& recipe : *recipes) {
    if (JsonEventsOn()) {
      Event data = {{"name", recipe.name},       {"version", recipe.version},
                    {"active", recipe.active},   {"created_utc", recipe.createdUtc},
                    {"created_by", recipe.createdBy}, {"note", recipe.note}};
      if (recipe.active) {
        data["activated_utc"] = recipe.activatedUtc;
        data["activated_by"] = recipe.activatedBy;
      }
      data["rows"] = RowsEvent(recipe);
      EmitEvent("recipe-version", std::move(data));
      continue;
    }
    std::printf("%s version %d%s  %s by %s%s%s\n", recipe.name.c_str(), recipe.version,
                recipe.active ? " (active)" : "", recipe.createdUtc.c_str(), OneLine(recipe.createdBy).c_str(),
                recipe.note.empty() ? "" : "  ", OneLine(recipe.note).c_str());
    if (recipe.active) {
      std::printf("  active since %s by %s\n", recipe.activatedUtc.c_str(), OneLine(recipe.activatedBy).c_str());
    }
    for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
      const RecipeRow& row = recipe.rows[kind];
      if (!row.enabled) continue;
      std::printf("  %-4s %s  %llu bytes  %s\n", KindName(kind), OneLine(row.sha256).c_str(),
                  static_cast<unsigned long long>(row.bytes), OneLine(row.fileName).c_str());
    }
  }
  if (!JsonEventsOn() && recipes->empty()) std::printf("no recipes\n");
  return AsInt(ExitCode::kDone);
}

}  // namespace

int RunRecipeCommand(const CliOptions& options) {
  if (options.recipe.publish) return Publish(options);
  if (options.recipe.activate) return Activate(options);
  return List(options);
}
