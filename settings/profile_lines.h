// One line of an INI file, read the way the Windows private-profile functions
// read it: names without regard to case, spaces and tabs around names and values
// ignored, ';' at the start of a line making it a comment.
#pragma once

#include <cstddef>
#include <string_view>

enum class ProfileLineKind {
  Blank,    // nothing but spaces and tabs
  Comment,  // first visible character is ';'
  Section,  // "[name]"; a line without the ']' is no header
  Entry,    // "key=value"
  Other,    // anything else; ignored
};

struct ProfileLine {
  ProfileLineKind kind = ProfileLineKind::Blank;
  std::string_view name;       // section name or key, trimmed
  std::string_view value;      // entry value, trimmed, quotes still on
  std::size_t valueStart = 0;  // where a new value goes when the entry is rewritten
};

// text is one line without its line break.
ProfileLine ClassifyProfileLine(std::string_view text);

std::string_view TrimProfileBlanks(std::string_view text);

// ASCII letters compare without regard to case, all other bytes exactly.
bool ProfileNamesEqual(std::string_view a, std::string_view b);

// One pair of matching enclosing quotes, double or single, is removed.
std::string_view UnquoteProfileValue(std::string_view value);
