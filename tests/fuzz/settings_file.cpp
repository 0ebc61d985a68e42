// Fuzz target: setting.ini as any bytes, in every encoding the tool reads,
// through the same calls the window makes. Reading must not crash; a write
// must read back as written and leave every other line's bytes as they were.
//
// Input: an encoding byte, a choice byte (section, key, value written), then
// the file. Encodings: 0 the bytes as they are (UTF-8, or GB18030 when they
// are not valid UTF-8), 1 behind a UTF-8 mark, 2 and 3 behind a UTF-16 LE or
// BE mark, 4 and 5 each byte widened to a UTF-16 LE or BE unit behind its
// mark (so the structure of an ASCII file survives), 6 behind a GB18030
// comment line.
#include <string>

#include "settings/settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

constexpr std::string_view kSections[] = {"setup", "PATH", "Strings", "Setup "};
constexpr std::string_view kKeys[] = {"BOOT", "S0052", "tdb", "x y"};
constexpr std::string_view kValues[] = {"1", "", "/路径/boot.bin", "a;b=c"};

std::string FileBytes(std::uint8_t encoding, std::string_view text) {
  std::string bytes;
  switch (encoding % 7) {
    case 1: return "\xEF\xBB\xBF" + std::string(text);
    case 2: return "\xFF\xFE" + std::string(text);
    case 3: return "\xFE\xFF" + std::string(text);
    case 4:
    case 5:
      bytes = encoding % 7 == 4 ? "\xFF\xFE" : "\xFE\xFF";
      for (const char c : text) {
        bytes += encoding % 7 == 4 ? std::string{c, '\0'} : std::string{'\0', c};
      }
      return bytes;
    case 6: return "; \xD6\xD0\xCE\xC4\r\n" + std::string(text);
    default: return std::string(text);
  }
}

// Code units of the file (2 bytes behind a UTF-16 mark, else 1) and its line
// breaks: LF, or CR in a file without any LF; a CR inside a line of an LF
// file is text.
struct Units {
  std::size_t size = 1;
  bool littleEndian = false;
  bool crBreaks = true;
  explicit Units(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
      size = 2;
      littleEndian = bytes[0] == '\xFF';
    }
    for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
      if (UnitAt(bytes, at) == '\n') crBreaks = false;
    }
  }
  // The unit as a character when it is ASCII, else 0.
  char UnitAt(std::string_view bytes, std::size_t at) const {
    if (size == 1) return bytes[at];
    const char low = littleEndian ? bytes[at] : bytes[at + 1];
    const char high = littleEndian ? bytes[at + 1] : bytes[at];
    return high == '\0' ? low : '\0';
  }
  bool IsLineBreakAt(std::string_view bytes, std::size_t at) const {
    const char c = UnitAt(bytes, at);
    return c == '\n' || (crBreaks && c == '\r');
  }
};

// The bytes that differ between before and after lie inside one line of
// before: no line break of before is touched by the change.
bool OneLineChanged(std::string_view before, std::string_view after) {
  const Units units(before);
  // Half a UTF-16 unit at the end is no character; a write may drop it.
  if (units.size == 2 && before.size() % 2 != 0) before.remove_suffix(1);
  // Whole code units alike at the start and at the end.
  const std::size_t unit = units.size;
  const auto sameUnit = [&](std::size_t inBefore, std::size_t inAfter) {
    return before.substr(inBefore, unit) == after.substr(inAfter, unit);
  };
  std::size_t prefix = 0;
  while (prefix + unit <= before.size() && prefix + unit <= after.size() && sameUnit(prefix, prefix)) {
    prefix += unit;
  }
  std::size_t suffix = 0;
  while (prefix + suffix + unit <= before.size() && prefix + suffix + unit <= after.size() &&
         sameUnit(before.size() - suffix - unit, after.size() - suffix - unit)) {
    suffix += unit;
  }
  for (std::size_t at = prefix; at + unit <= before.size() - suffix; at += unit) {
    if (units.IsLineBreakAt(before, at)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint8_t encoding = input.Byte();
  const std::uint8_t choice = input.Byte();
  const std::string before = FileBytes(encoding, input.Rest());
  const std::string_view section = kSections[choice & 3];
  const std::string_view key = kKeys[(choice >> 2) & 3];
  const std::string_view value = kValues[(choice >> 4) & 3];

  const std::string path = fuzz::ScratchFolder() + "/setting.ini";
  fuzz::WriteFileBytes(path, before);
  for (const std::string_view kind : {"BOOT", "TDB"}) {
    ReadProfileInt(path, "setup", kind, 0);
    Require(ReadProfileString(path, "PATH", kind).size() <= 511 * 4, "a text is at most 511 characters");
  }
  ReadProfileString(path, section, key);
  // Keys the write never names: the same text before and after, so no line
  // reads differently because another line was rewritten.
  const std::string hostFlag = ReadProfileString(path, "setup", "HOST");
  const std::string caption = ReadProfileString(path, "Strings", "S0001");

  Require(WriteProfileString(path, section, key, value), "a storable value is written");
  const std::string after = fuzz::ReadFileBytes(path);
  Require(ReadProfileString(path, section, key) == value, "the written value reads back");
  Require(OneLineChanged(before, after), "every other line keeps its bytes");
  Require(ReadProfileString(path, "setup", "HOST") == hostFlag, "other keys read as before");
  Require(ReadProfileString(path, "Strings", "S0001") == caption, "other keys read as before");
  return 0;
}
