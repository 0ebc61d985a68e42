// Rows pinned to a file by its SHA-256: section [SHA256] of the settings file
// holds a digest per row name (BOOT=..., TDB=...). A pinned row whose file has
// another digest is refused at the press, before the device is touched, and
// again at its start if the bytes read for sending differ.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* kPinSection = "SHA256";

// A run from a recipe pins every row to the recipe's digests instead of the
// settings file's section (an empty digest: a row not enabled); nullopt
// goes back to the section.
void PinRowsTo(const std::optional<std::array<std::string, 9>>& digests);

// The row's pinned digest in lower case; empty when the row is not pinned.
// A value that is not 64 hex digits is returned as written, so it never matches.
std::string PinnedDigest(std::uint8_t kind);

// The first 12 hex digits, enough to tell two digests apart in a message.
std::string ShortDigest(const std::string& digest);

// "BOOT: the file's SHA-256 0123456789ab differs from the pinned 456789abcdef".
std::string PinMismatchText(std::uint8_t kind, const std::string& fileDigest,
                            const std::string& pinned);

// Checks a pinned row's file at the press by reading it whole. True when the
// row is not pinned or its file matches; otherwise its box has been shown.
bool CheckPinAtPress(std::uint8_t kind, const std::string& path);

// The bytes loaded for sending against the pin. True when the row is not
// pinned or they match; otherwise its box has been shown.
bool CheckPinOfLoadedBytes(std::uint8_t kind, const std::string& loadedDigest);

// The log line of a pinned row whose file matched: "BOOT pinned, SHA-256 0123456789ab".
std::string PinnedRowLogText(std::uint8_t kind);
