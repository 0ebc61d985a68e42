#include "settings/slot_names.h"

#include "settings/profile_document.h"
#include "settings/profile_file.h"
#include "settings/profile_lines.h"

std::map<std::string, std::string> ReadSlotNames(const std::string& path) {
  std::map<std::string, std::string> names;
  std::string bytes;
  if (ReadWholeFile(path, bytes) != FileReadResult::Read) return names;
  const ProfileDocument document = ParseProfile(std::move(bytes));
  bool inSlots = false;
  for (const ProfileTextLine& text : document.lines) {
    const ProfileLine line = ClassifyProfileLine(text.text);
    if (line.kind == ProfileLineKind::Section) {
      inSlots = ProfileNamesEqual(line.name, "slots");
    } else if (inSlots && line.kind == ProfileLineKind::Entry && !line.name.empty()) {
      const std::string_view name = UnquoteProfileValue(line.value);
      if (!name.empty()) names.emplace(std::string(line.name), std::string(name));
    }
  }
  return names;
}
