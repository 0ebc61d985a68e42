// libFuzzer target: any bytes as setting.ini. Reading must not crash, and a
// write must read back as written, leave every other line's bytes as they
// were and not disturb other sections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/profile_document.h"
#include "app/profile_lines.h"

namespace {
constexpr std::string_view kSections[] = {"setup", "PATH", "Strings", "a"};
constexpr std::string_view kKeys[] = {"BOOT", "S0052", "k", "x y"};
constexpr std::string_view kValues[] = {"1", "", "/路径/boot.bin", "a;b=c"};

void Require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string_view> LineContents(const ProfileDocument& document) {
  std::vector<std::string_view> contents;
  for (const ProfileTextLine& line : document.lines) {
    contents.push_back(
        std::string_view(document.bytes).substr(line.begin, line.contentEnd - line.begin));
  }
  return contents;
}

// The lines before and after a write differ in one place only: one line
// rewritten, or a key or a section with its key added.
void RequireOtherLinesKept(const ProfileDocument& before, const ProfileDocument& after) {
  const auto old = LineContents(before);
  const auto now = LineContents(after);
  std::size_t front = 0;
  while (front < old.size() && front < now.size() && old[front] == now[front]) ++front;
  std::size_t back = 0;
  while (back < old.size() - front && back < now.size() - front &&
         old[old.size() - 1 - back] == now[now.size() - 1 - back]) {
    ++back;
  }
  Require(old.size() - front - back <= 1 && now.size() - front - back <= 2);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t choice = data[0];
  const std::string_view section = kSections[choice & 3];
  const std::string_view key = kKeys[(choice >> 2) & 3];
  const std::string_view value = kValues[(choice >> 4) & 3];
  const std::string_view other = kSections[((choice >> 6) + 1 + (choice & 3)) & 3];

  const ProfileDocument before =
      ParseProfile(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  const auto otherBefore = FindProfileValue(before, other, "BOOT");
  FindProfileValue(before, section, key);

  std::string written;
  Require(EditProfileValue(before, section, key, value, written));
  const ProfileDocument after = ParseProfile(written);
  Require(FindProfileValue(after, section, key) == std::string(value));
  RequireOtherLinesKept(before, after);
  if (after.encoding == before.encoding && !ProfileNamesEqual(other, section)) {
    Require(FindProfileValue(after, other, "BOOT") == otherBefore);
  }
  return 0;
}
