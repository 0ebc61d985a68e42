// What every engine test starts from: an all-zero transfer record, a
// setting.ini whose texts are "M00" .. "M54", a fresh emulated device on a
// virtual clock, the fake window, and a temporary folder for image files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "record/transfer_context.h"
#include "fake_host.h"
#include "link/command_frames.h"
#include "sim/device_model.h"
#include "sim/virtual_clock.h"

using Bytes = std::vector<std::uint8_t>;

// One frame as the engine wrote it, frame-level scrambling undone.
struct SentFrame {
  std::uint16_t code = 0;
  std::uint16_t total = 0;
  std::uint16_t index = 0;
  std::uint8_t chunkSize = 0;
  bool scrambled = false;
  Bytes payload;
};
std::vector<SentFrame> SentFrames();
std::vector<std::uint16_t> SentCodes();

// Deterministic test bytes.
Bytes Pattern(std::size_t size, std::uint32_t seed);
// A BOOT/HOST file: 128-byte header (byte 108, 110 alternate codes, 111 tag), payload, trailer.
Bytes ImageFile(std::size_t size, std::uint8_t alternate = 0, std::uint8_t tag = 0,
                std::uint8_t byte108 = 0, std::uint32_t seed = 7);
Bytes Scrambled(Bytes bytes, const std::uint8_t (&key)[kXorKeySize]);
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length);
// "M52" and so on: the text setting.ini holds for key number.
std::string Text(int number);
// Writes dir/setting.ini with those texts and points g_iniPath at it.
void WriteMessageTable(const std::string& dir);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new emulated device with these faults (replaces the one SetUp made).
  void UseDevice(const sim::Faults& faults);
  std::string WriteFile(const std::string& name, const Bytes& bytes);
  // Checks the row and gives it a file holding these bytes.
  void Put(std::uint8_t kind, const Bytes& file) { host->Row(kind, WriteFile(KindName(kind), file)); }
  // Presses a button and lets the transfer run to its end.
  void Press(void (*handler)()) {
    handler();
    host->RunUntilIdle();
  }
  void RunRow(std::uint8_t kind, const Bytes& file, void (*handler)()) {
    Put(kind, file);
    Press(handler);
  }
  // The only box shown, by text.

  const Bytes& Received(const std::string& image) const;
  // Log lines without their 8-character time stamp.
  std::vector<std::string> LogTexts() const;
  // Box texts in order.
  std::vector<std::string> BoxTexts() const;

  sim::VirtualClock clock;
  std::unique_ptr<sim::DeviceModel> model;
  std::unique_ptr<FakeHost> host;
  std::string dir;
};
