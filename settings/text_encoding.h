// The encodings setting.ini comes in: UTF-16 with a byte-order mark as Windows
// tools write it, UTF-8 with or without a mark, and otherwise GB18030 (the code
// page of the Chinese Windows machines that write these files; GBK and cp936
// are its subsets). Text inside the program is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class TextEncoding {
  Utf8,     // no byte-order mark
  Utf8Bom,  // EF BB BF
  Utf16Le,  // FF FE
  Utf16Be,  // FE FF
  Gb18030,  // no mark, without the evidence of LooksLikeUtf8Text
};

// A file that starts with a byte-order mark is in that encoding; one that
// LooksLikeUtf8Text is UTF-8; anything else is taken as GB18030.
TextEncoding DetectTextEncoding(std::string_view bytes);

// Strong evidence of UTF-8: valid UTF-8 whose non-ASCII characters are all
// three-byte sequences, as Chinese text in UTF-8 is. Plain ASCII qualifies.
// Many GBK words are valid UTF-8 by chance (平台 is C6 BD CC A8), but almost
// always as two-byte sequences.
bool LooksLikeUtf8Text(std::string_view bytes);

bool IsAscii(std::string_view bytes);

// The byte-order mark that starts a file in this encoding (empty for none).
std::string_view ByteOrderMark(TextEncoding encoding);

// Bytes per code unit: 2 for UTF-16, else 1.
std::size_t CodeUnitSize(TextEncoding encoding);

bool IsValidUtf8(std::string_view bytes);

// Converts bytes (without the mark) to UTF-8. Undecodable bytes become U+FFFD,
// so a damaged line still reads as something; never fails. In GB18030 a lone
// byte 0x80 is the euro sign, as code page 936 has it.
std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding);

// Converts UTF-8 text to the encoding (without the mark). False when the text
// is not valid UTF-8 or has a character the encoding cannot hold.
bool EncodeFromUtf8(std::string_view utf8, TextEncoding encoding, std::string& out);

// Length in bytes of the longest prefix of utf8 that holds at most maxUnits
// UTF-16 code units and does not cut a character in half (utf8 must be valid).
std::size_t Utf8PrefixForUtf16Units(std::string_view utf8, std::size_t maxUnits);
