#include "settings/profile_lines.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view TrimProfileBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool ProfileNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string_view UnquoteProfileValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

ProfileLine ClassifyProfileLine(std::string_view text) {
  ProfileLine line;
  const std::string_view visible = TrimProfileBlanks(text);
  if (visible.empty()) return line;

  if (visible.front() == ';') {
    line.kind = ProfileLineKind::Comment;
    return line;
  }
  if (visible.front() == '[') {
    // Without its ']' the line is no header: the keys after it stay in the
    // section before it, as on Windows.
    const std::string_view name = visible.substr(1);
    if (const auto close = name.find(']'); close != std::string_view::npos) {
      line.kind = ProfileLineKind::Section;
      line.name = TrimProfileBlanks(name.substr(0, close));
      return line;
    }
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    line.kind = ProfileLineKind::Other;
    return line;
  }
  line.kind = ProfileLineKind::Entry;
  line.name = TrimProfileBlanks(text.substr(0, equals));
  std::size_t start = equals + 1;
  while (start < text.size() && IsBlank(text[start])) ++start;
  line.valueStart = start;
  line.value = TrimProfileBlanks(text.substr(start));
  return line;
}
