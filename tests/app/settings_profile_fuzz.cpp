// libFuzzer target: any bytes as setting.ini. Reading must not crash, and a
// write must read back as written without disturbing other sections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/profile_document.h"
#include "app/profile_lines.h"

namespace {
constexpr std::string_view kSections[] = {"setup", "PATH", "Strings", "a"};
constexpr std::string_view kKeys[] = {"BOOT", "S0052", "k", "x y"};
constexpr std::string_view kValues[] = {"1", "", "/路径/boot.bin", "a;b=c"};

void Require(bool condition) {
  if (!condition) std::abort();
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
  if (after.encoding == before.encoding && !ProfileNamesEqual(other, section)) {
    Require(FindProfileValue(after, other, "BOOT") == otherBefore);
  }
  return 0;
}
