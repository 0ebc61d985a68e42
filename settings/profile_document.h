// A whole INI file held as its original bytes, with the position and the
// decoded text of every line, so that a change rewrites one line and leaves
// every other byte of the file as it was.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/text_encoding.h"

struct ProfileTextLine {
  std::size_t begin = 0;       // first byte of the line
  std::size_t contentEnd = 0;  // first byte of its line break
  std::size_t end = 0;         // first byte after the line break
  bool hasBreak = false;       // false for a last line that ends without one
  TextEncoding encoding = TextEncoding::Utf8;  // what the line is read and rewritten in
  std::string text;            // the line's text in UTF-8, without the break
};

// A file with a byte-order mark is in that encoding throughout. One without is
// read line by line, as a stray line in another encoding must not garble the
// rest: a line that LooksLikeUtf8Text is UTF-8, any other GB18030.
struct ProfileDocument {
  std::string bytes;  // the file as stored, byte-order mark included
  // The mark's encoding; without a mark, the one new lines are written in: that
  // of most non-ASCII lines, UTF-8 when there are none or as many of each.
  TextEncoding encoding = TextEncoding::Utf8;
  // The file's own line ending, in UTF-8: LF, or CR LF, or CR in a file
  // without any LF (old Mac editors); CR LF when the file has none.
  std::string lineBreak = "\r\n";
  std::vector<ProfileTextLine> lines;
};

// Splits and decodes a file's bytes. An empty input is an empty UTF-8 file.
ProfileDocument ParseProfile(std::string bytes);

// The value of key in the first section of that name: trimmed, one pair of
// enclosing quotes removed. Nothing when the section or key is absent.
std::optional<std::string> FindProfileValue(const ProfileDocument& document,
                                            std::string_view section, std::string_view key);

// The file's bytes after setting key in section to value: the key's line is
// rewritten, or a line is added after the section's last key, or the section
// is added at the end. Other lines keep every byte. A rewritten line keeps its
// own encoding and new lines take the file's, unless the text would then read
// back differently; it then goes in the other of UTF-8 and GB18030.
// False when the names or value cannot be stored (empty name, a line break,
// '=' in a key, ']' in a section name).
bool EditProfileValue(const ProfileDocument& document, std::string_view section,
                      std::string_view key, std::string_view value, std::string& newBytes);
