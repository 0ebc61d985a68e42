#include "recipes/recipe.h"

#include <cctype>

bool IsRecipeName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  if (!std::isalnum(static_cast<unsigned char>(name.front()))) return false;
  for (const char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  }
  return true;
}

std::string RecipeLabel(const std::string& name, int version) {
  return name + " version " + std::to_string(version);
}

bool HasEnabledRow(const RecipeVersion& recipe) {
  for (const RecipeRow& row : recipe.rows) {
    if (row.enabled) return true;
  }
  return false;
}
