#include "run/recipe_options.h"

#include <cstdlib>

#include "engine/sha256.h"
#include "recipes/recipe.h"

namespace {

bool NameOk(const std::string& option, const std::string& name, std::string& error) {
  if (IsRecipeName(name)) return true;
  error = option + " wants a recipe name of letters, digits, '.', '_' and '-' (at most 64), not \"" +
          name + "\"";
  return false;
}

std::optional<int> VersionOf(const std::string& text) {
  char* end = nullptr;
  const long version = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || version < 1 || version > 1000000000) {
    return std::nullopt;
  }
  return static_cast<int>(version);
}

}  // namespace

RecipeParse ParseRecipeOption(const std::vector<std::string>& args, std::size_t& i, RecipeOptions& options,
                              std::string& error) {
  std::string option = args[i];
  std::optional<std::string> value;
  if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
    value = option.substr(equals + 1);
    option.erase(equals);
  }
  const int values = option == "--activate" ? 2
                     : option == "--publish" || option == "--note" || option == "--recipe" ||
                               option == "--image-cache" || option == "--recipe-version"
                         ? 1
                     : option == "--recipes" ? 0
                                             : -1;
  if (values < 0) return RecipeParse::kNotMine;
  if (values == 0 && value) {
    error = option + " takes no value";
    return RecipeParse::kError;
  }
  std::vector<std::string> given;
  if (value) given.push_back(*value);
  while (static_cast<int>(given.size()) < values) {
    if (i + 1 == args.size()) {
      error = option + (values == 2 ? " needs a name and a version" : " needs a value");
      return RecipeParse::kError;
    }
    given.push_back(args[++i]);
  }
  if (option == "--recipes") {
    options.list = true;
  } else if (option == "--publish") {
    if (!NameOk(option, given[0], error)) return RecipeParse::kError;
    options.publish = given[0];
  } else if (option == "--note") {
    options.note = given[0];
  } else if (option == "--recipe") {
    if (!NameOk(option, given[0], error)) return RecipeParse::kError;
    options.name = given[0];
  } else if (option == "--image-cache") {
    if (given[0].empty()) {
      error = "--image-cache needs a value";
      return RecipeParse::kError;
    }
    options.cacheFolder = given[0];
  } else if (option == "--activate") {
    if (!NameOk(option, given[0], error)) return RecipeParse::kError;
    const std::optional<int> version = VersionOf(given[1]);
    if (!version) {
      error = "--activate wants a version number from 1, not \"" + given[1] + "\"";
      return RecipeParse::kError;
    }
    options.activate = std::make_pair(given[0], *version);
  } else {  // --recipe-version NAME:VERSION:ROWS-SHA256, a station's to its writers
    const std::string& text = given[0];
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const std::optional<int> version =
        second == std::string::npos ? std::nullopt : VersionOf(text.substr(first + 1, second - first - 1));
    if (!version || !IsRecipeName(text.substr(0, first)) || !IsSha256Hex(text.substr(second + 1))) {
      error = "--recipe-version wants NAME:VERSION:ROWS-SHA256 (a station gives it to its writers), not \"" +
              text + "\"";
      return RecipeParse::kError;
    }
    options.taken = std::make_pair(text.substr(0, first), *version);
    options.takenDigest = text.substr(second + 1);
  }
  return RecipeParse::kTaken;
}

bool CheckRecipeOptions(const RecipeOptions& options, bool rowsNamed, bool otherCommand, std::string& error) {
  const int commands = (options.publish ? 1 : 0) + (options.activate ? 1 : 0) + (options.list ? 1 : 0);
  const bool onRecipe = !options.name.empty() || options.taken;
  if (commands > 1) {
    error = "--publish, --activate and --recipes are separate commands";
  } else if (commands == 1 && otherCommand) {
    error = "--publish, --activate and --recipes write no device and are commands of their own";
  } else if (options.note && !options.publish) {
    error = "--note goes with --publish";
  } else if (commands == 1 && onRecipe) {
    error = "--recipe names what a run writes; not with --publish, --activate or --recipes";
  } else if ((options.activate || options.list) && rowsNamed) {
    error = "--activate and --recipes take no rows";
  } else if (onRecipe && rowsNamed) {
    error = "--recipe takes its rows from the recipe; row options cannot be given beside it";
  } else {
    return true;
  }
  return false;
}

std::string RecipeUsage() {
  return "recipes (images and rows published once in the line database; docs/recipes.md):\n"
         "  --publish NAME [--note TEXT]\n"
         "                      store this run's rows (row options, or the enabled rows of the\n"
         "                      settings file) and their images as the next version of NAME\n"
         "                      and make it active; prints the version. Needs the tables' owner\n"
         "  --activate NAME VERSION\n"
         "                      make that version of NAME the active one (a rollback)\n"
         "  --recipes           every recipe's versions: which is active, when and by whom,\n"
         "                      the note and the rows\n"
         "  --recipe NAME       write the active version of NAME, taken before each board\n"
         "                      (also recipe= in section [line] of the settings file); no row\n"
         "                      options beside it. A database that answers but whose active\n"
         "                      version cannot be taken whole refuses the board (exit 12).\n"
         "                      Only a database that does not answer: the last version held\n"
         "                      whole in the image cache; none: exit 12. With --wait, the\n"
         "                      version is taken again once the board is there\n"
         "  --image-cache DIR   where the recipe's images are kept by SHA-256 (default\n"
         "                      $XDG_CACHE_HOME/tamsolt/images; the service's CacheDirectory)\n"
         "  --recipe-version NAME:VERSION:ROWS-SHA256\n"
         "                      what a station (--all, --watch) gives each writer: the version\n"
         "                      it took, written from the cache only while its rows there are\n"
         "                      the ones the station took\n";
}
