#include "settings/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace {

constexpr std::string_view kMarkUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kMarkUtf16Le = "\xFF\xFE";
constexpr std::string_view kMarkUtf16Be = "\xFE\xFF";
constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";
constexpr std::string_view kEuroSign = "\xE2\x82\xAC";
constexpr char kCp936Euro = '\x80';

const char* IconvName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf16Le: return "UTF-16LE";
    case TextEncoding::Utf16Be: return "UTF-16BE";
    case TextEncoding::Gb18030: return "GB18030";
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom: break;
  }
  return "UTF-8";
}

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at the start of bytes, 0 if there is none.
std::size_t Utf8SequenceLength(std::string_view bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // bounds of the second byte rule out overlongs,
  unsigned char high = 0xBF; // surrogates and code points above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(at(i))) return 0;
  }
  return length;
}

}  // namespace

TextEncoding DetectTextEncoding(std::string_view bytes) {
  if (bytes.starts_with(kMarkUtf16Le)) return TextEncoding::Utf16Le;
  if (bytes.starts_with(kMarkUtf16Be)) return TextEncoding::Utf16Be;
  if (bytes.starts_with(kMarkUtf8)) return TextEncoding::Utf8Bom;
  return LooksLikeUtf8Text(bytes) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

bool LooksLikeUtf8Text(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(bytes);
    if (length != 1 && length != 3) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

bool IsAscii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string_view ByteOrderMark(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom: return kMarkUtf8;
    case TextEncoding::Utf16Le: return kMarkUtf16Le;
    case TextEncoding::Utf16Be: return kMarkUtf16Be;
    case TextEncoding::Utf8:
    case TextEncoding::Gb18030: break;
  }
  return {};
}

std::size_t CodeUnitSize(TextEncoding encoding) {
  return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be ? 2 : 1;
}

bool IsValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(bytes);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding) {
  std::string out;
  if (encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8Bom) {
    out.reserve(bytes.size());
    while (!bytes.empty()) {
      const std::size_t length = Utf8SequenceLength(bytes);
      if (length == 0) {
        out += kReplacementChar;
        bytes.remove_prefix(1);
      } else {
        out += bytes.substr(0, length);
        bytes.remove_prefix(length);
      }
    }
    return out;
  }

  IconvHandle converter("UTF-8", IconvName(encoding));
  if (!converter.ok()) return out;
  const std::size_t unit = CodeUnitSize(encoding);
  char buffer[1024];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    // An undecodable or truncated sequence: mark it and go on after it.
    const bool euro = encoding == TextEncoding::Gb18030 && *in == kCp936Euro;
    out += euro ? kEuroSign : kReplacementChar;
    const std::size_t skip = inLeft < unit ? inLeft : unit;
    in += skip;
    inLeft -= skip;
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool EncodeFromUtf8(std::string_view utf8, TextEncoding encoding, std::string& out) {
  out.clear();
  if (!IsValidUtf8(utf8)) return false;
  if (encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8Bom) {
    out.assign(utf8);
    return true;
  }
  IconvHandle converter(IconvName(encoding), "UTF-8");
  if (!converter.ok()) return false;
  char buffer[1024];
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
  }
  return true;
}

std::size_t Utf8PrefixForUtf16Units(std::string_view utf8, std::size_t maxUnits) {
  std::size_t bytes = 0;
  std::size_t units = 0;
  while (bytes < utf8.size()) {
    std::size_t length = Utf8SequenceLength(utf8.substr(bytes));
    if (length == 0) length = 1;  // not expected for valid input; count it as one unit
    const std::size_t needed = length == 4 ? 2 : 1;
    if (units + needed > maxUnits) break;
    units += needed;
    bytes += length;
  }
  return bytes;
}
