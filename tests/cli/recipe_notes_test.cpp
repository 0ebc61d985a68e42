// What a single run or a station says of a recipe take.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/recipe_run.h"

namespace {

// The take that finds the database back is told even when the version is
// the one written from the cache; an unchanged take is told nothing.
TEST(RecipeNotes, TheDatabaseBackIsToldThoughTheVersionIsTheSame) {
  RecipeTake take;
  take.end = RecipeTake::End::kTaken;
  take.recipe = RecipeVersion{};
  take.recipe->name = "line3";
  take.recipe->version = 7;
  take.backIsNew = true;
  std::vector<std::string> notes;
  const auto note = [&](const std::string& text) { notes.push_back(text); };
  TellRecipeTake(take, 7, note);
  take.backIsNew = false;
  TellRecipeTake(take, 7, note);
  EXPECT_EQ(notes, (std::vector<std::string>{"the line database answers again: recipe line3 version 7"}));
}

}  // namespace
