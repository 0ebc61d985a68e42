// Source files for the nine rows, and the form in which the device must store
// each of them, computed here independently of the engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// n bytes that do not repeat with the 256-byte key period.
Bytes PatternBytes(std::size_t n, std::uint8_t seed);

// A boot loader or host program: 128-byte header (tag byte 111 = 0, byte 108 = 0,
// alternate-code flag in byte 110), payload, 2-byte trailer.
Bytes ProgramFile(const Bytes& payload, std::uint8_t altCodeSet);
// The payload as the device stores it: file bytes 128 .. end-2, XOR key B.
Bytes StoredProgram(const Bytes& file);

// A batch-write file: 256-byte header, then the test data.
Bytes TestDataFile(const Bytes& data);

// A bottom-up 24-bit bitmap file, rows padded to four bytes.
Bytes BitmapFile(int width, int height, std::uint8_t seed);
// The device picture of that bitmap: header 10 10 w h 01 1B, RGB565 pixels top
// row first (high byte first), 8 zero bytes.
Bytes DevicePicture(int width, int height, std::uint8_t seed);

// bytes XORed with key B, key position = byte position mod 256.
Bytes ScrambledB(Bytes bytes);

Bytes ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
