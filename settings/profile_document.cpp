#include "settings/profile_document.h"

#include "settings/profile_lines.h"

namespace {

// Offset of the code unit c at or after from, or npos; units are aligned to
// the start of the text after the byte-order mark.
std::size_t FindCodeUnit(const ProfileDocument& document, std::size_t from, char c) {
  const std::string& bytes = document.bytes;
  if (CodeUnitSize(document.encoding) == 1) return bytes.find(c, from);
  const bool littleEndian = document.encoding == TextEncoding::Utf16Le;
  for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
    const char low = littleEndian ? bytes[i] : bytes[i + 1];
    const char high = littleEndian ? bytes[i + 1] : bytes[i];
    if (low == c && high == '\0') return i;
  }
  return std::string::npos;
}

bool IsCodeUnitAt(const ProfileDocument& document, std::size_t offset, char c) {
  const std::string& bytes = document.bytes;
  if (CodeUnitSize(document.encoding) == 1) return offset < bytes.size() && bytes[offset] == c;
  if (offset + 1 >= bytes.size()) return false;
  const bool littleEndian = document.encoding == TextEncoding::Utf16Le;
  const char low = littleEndian ? bytes[offset] : bytes[offset + 1];
  const char high = littleEndian ? bytes[offset + 1] : bytes[offset];
  return low == c && high == '\0';
}

std::string EncodedOrEmpty(std::string_view utf8, TextEncoding encoding) {
  std::string out;
  if (!EncodeFromUtf8(utf8, encoding, out)) out.clear();
  return out;
}

bool HasMark(TextEncoding encoding) { return !ByteOrderMark(encoding).empty(); }

// How a line of a file without a byte-order mark is read.
TextEncoding UnmarkedLineEncoding(std::string_view bytes) {
  return LooksLikeUtf8Text(bytes) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

// A line's bytes such that the line reads back as text: in the file's marked
// encoding, else in preferred or, when that would read back differently (GBK
// bytes that pass for UTF-8, or UTF-8 that does not look like it), the other.
bool EncodeLine(const ProfileDocument& document, std::string_view text, TextEncoding preferred,
                std::string& out) {
  if (HasMark(document.encoding)) return EncodeFromUtf8(text, document.encoding, out);
  const TextEncoding other =
      preferred == TextEncoding::Gb18030 ? TextEncoding::Utf8 : TextEncoding::Gb18030;
  for (const TextEncoding encoding : {preferred, other}) {
    if (EncodeFromUtf8(text, encoding, out) &&
        DecodeToUtf8(out, UnmarkedLineEncoding(out)) == text) {
      return true;
    }
  }
  return false;
}

// The line ending of the first line that has one: CR LF or LF, or CR when the
// lines were split at CR; CR LF when no line has one, as Windows writes.
std::string FirstLineBreak(const ProfileDocument& document, char breakUnit) {
  for (const ProfileTextLine& line : document.lines) {
    if (!line.hasBreak) continue;
    if (breakUnit == '\r') return "\r";
    return line.end - line.contentEnd > CodeUnitSize(document.encoding) ? "\r\n" : "\n";
  }
  return "\r\n";
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool StorableNames(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || key.empty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos) return false;
  // A key that reads back as a comment or section would be lost.
  return key.front() != ';' && key.front() != '[';
}

struct SectionRange {
  std::size_t header = 0;  // index of the "[name]" line
  std::size_t end = 0;     // index of the next section's header, or the line count
};

std::optional<SectionRange> FindSection(const ProfileDocument& document, std::string_view name) {
  const std::size_t count = document.lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    const ProfileLine line = ClassifyProfileLine(document.lines[i].text);
    if (line.kind != ProfileLineKind::Section || !ProfileNamesEqual(line.name, name)) continue;
    SectionRange range{i, i + 1};
    while (range.end < count &&
           ClassifyProfileLine(document.lines[range.end].text).kind != ProfileLineKind::Section) {
      ++range.end;
    }
    return range;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindEntry(const ProfileDocument& document, SectionRange section,
                                     std::string_view key) {
  for (std::size_t i = section.header + 1; i < section.end; ++i) {
    const ProfileLine line = ClassifyProfileLine(document.lines[i].text);
    if (line.kind == ProfileLineKind::Entry && ProfileNamesEqual(line.name, key)) return i;
  }
  return std::nullopt;
}

std::size_t LastEntryOrHeader(const ProfileDocument& document, SectionRange section) {
  std::size_t last = section.header;
  for (std::size_t i = section.header + 1; i < section.end; ++i) {
    if (ClassifyProfileLine(document.lines[i].text).kind == ProfileLineKind::Entry) last = i;
  }
  return last;
}

std::string EntryText(std::string_view key, std::string_view value) {
  std::string text(key);
  text += '=';
  text += value;
  return text;
}

}  // namespace

ProfileDocument ParseProfile(std::string bytes) {
  ProfileDocument document;
  document.bytes = std::move(bytes);
  document.encoding = DetectTextEncoding(document.bytes);
  const bool marked = HasMark(document.encoding);
  const std::size_t unit = CodeUnitSize(document.encoding);
  // Half a code unit at the end of a UTF-16 file is dropped; a write leaves it out
  // so that new lines stay aligned.
  if (document.bytes.size() % unit != 0) document.bytes.pop_back();
  const std::size_t first = ByteOrderMark(document.encoding).size();
  const std::size_t size = document.bytes.size();
  // Lines end at LF; in a file without any LF, at a lone CR.
  const char breakUnit = FindCodeUnit(document, first, '\n') == std::string::npos ? '\r' : '\n';
  std::size_t utf8Lines = 0;
  std::size_t gbLines = 0;
  for (std::size_t begin = first; begin < size;) {
    const std::size_t lineBreak = FindCodeUnit(document, begin, breakUnit);
    ProfileTextLine line;
    line.begin = begin;
    line.contentEnd = lineBreak == std::string::npos ? size : lineBreak;
    line.end = lineBreak == std::string::npos ? size : lineBreak + unit;
    line.hasBreak = lineBreak != std::string::npos;
    // A CR before the LF, or closing the file, is not part of the text.
    if (breakUnit == '\n' && line.contentEnd >= begin + unit &&
        IsCodeUnitAt(document, line.contentEnd - unit, '\r')) {
      line.contentEnd -= unit;
    }
    const std::string_view raw =
        std::string_view(document.bytes).substr(line.begin, line.contentEnd - line.begin);
    line.encoding = marked ? document.encoding : UnmarkedLineEncoding(raw);
    if (!marked && !IsAscii(raw)) ++(line.encoding == TextEncoding::Utf8 ? utf8Lines : gbLines);
    line.text = DecodeToUtf8(raw, line.encoding);
    begin = line.end;
    document.lines.push_back(std::move(line));
  }
  document.lineBreak = FirstLineBreak(document, breakUnit);
  if (!marked) {
    document.encoding = gbLines > utf8Lines ? TextEncoding::Gb18030 : TextEncoding::Utf8;
    // A plain ASCII line is in either; rewritten, it takes the file's encoding.
    for (ProfileTextLine& line : document.lines) {
      if (IsAscii(line.text)) line.encoding = document.encoding;
    }
  }
  return document;
}

std::optional<std::string> FindProfileValue(const ProfileDocument& document,
                                            std::string_view section, std::string_view key) {
  section = TrimProfileBlanks(section);
  key = TrimProfileBlanks(key);
  if (key.empty()) return std::nullopt;
  const auto range = FindSection(document, section);
  if (!range) return std::nullopt;
  const auto entry = FindEntry(document, *range, key);
  if (!entry) return std::nullopt;
  const ProfileLine line = ClassifyProfileLine(document.lines[*entry].text);
  return std::string(UnquoteProfileValue(line.value));
}

bool EditProfileValue(const ProfileDocument& document, std::string_view section,
                      std::string_view key, std::string_view value, std::string& newBytes) {
  section = TrimProfileBlanks(section);
  key = TrimProfileBlanks(key);
  if (!StorableNames(section, key, value)) return false;
  const std::string lineBreak = EncodedOrEmpty(document.lineBreak, document.encoding);
  std::string encoded;
  const std::string_view bytes = document.bytes;

  const auto range = FindSection(document, section);
  if (!range) {
    std::string added;
    if (!document.lines.empty() && !document.lines.back().hasBreak) {
      // The last line had no line break of its own; a CR closing it only needs its LF.
      const ProfileTextLine& last = document.lines.back();
      added += last.end > last.contentEnd ? EncodedOrEmpty("\n", document.encoding) : lineBreak;
    }
    if (!EncodeLine(document, "[" + std::string(section) + "]", document.encoding, encoded)) {
      return false;
    }
    added += encoded + lineBreak;
    if (!EncodeLine(document, EntryText(key, value), document.encoding, encoded)) return false;
    added += encoded + lineBreak;
    newBytes = document.bytes;
    if (newBytes.empty()) newBytes = ByteOrderMark(document.encoding);
    newBytes += added;
    return true;
  }

  if (const auto entry = FindEntry(document, *range, key)) {
    const ProfileTextLine& old = document.lines[*entry];
    const ProfileLine parsed = ClassifyProfileLine(old.text);
    // Keep the key as written and the spacing after '='; only the value changes.
    std::string text = old.text.substr(0, parsed.valueStart);
    text += value;
    if (!EncodeLine(document, text, old.encoding, encoded)) return false;
    newBytes.assign(bytes.substr(0, old.begin));
    newBytes += encoded;
    newBytes += bytes.substr(old.contentEnd);
    return true;
  }

  // After the section's last key, before the blank lines that end it.
  const ProfileTextLine& anchor = document.lines[LastEntryOrHeader(document, *range)];
  if (!EncodeLine(document, EntryText(key, value), document.encoding, encoded)) return false;
  newBytes.assign(bytes.substr(0, anchor.contentEnd));
  newBytes += lineBreak;
  newBytes += encoded;
  newBytes += bytes.substr(anchor.contentEnd);
  return true;
}
