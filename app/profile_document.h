// A whole INI file held as its original bytes, with the position and the
// decoded text of every line, so that a change rewrites one line and leaves
// every other byte of the file as it was.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/text_encoding.h"

struct ProfileTextLine {
  std::size_t begin = 0;       // first byte of the line
  std::size_t contentEnd = 0;  // first byte of its line break (CR LF or LF)
  std::size_t end = 0;         // first byte after the line break
  bool hasBreak = false;       // false for a last line that ends without LF
  std::string text;            // the line's text in UTF-8, without the break
};

struct ProfileDocument {
  std::string bytes;  // the file as stored, byte-order mark included
  TextEncoding encoding = TextEncoding::Utf8;
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
// is added at the end. New text is in the file's encoding and line ending.
// False when the names or value cannot be stored (empty name, a line break,
// '=' in a key, ']' in a section name).
bool EditProfileValue(const ProfileDocument& document, std::string_view section,
                      std::string_view key, std::string_view value, std::string& newBytes);
