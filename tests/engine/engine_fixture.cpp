#include "engine_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "settings/settings.h"
#include "engine/image_staging.h"
#include "record/transfer_context.h"
#include "sim/inprocess_usb.h"

namespace {

// Every field back to zero, as at program start.
void ResetTransfer() {
  static const TransferContext kBlank{};
  g_transfer = kBlank;
}

std::uint16_t Big16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

std::vector<SentFrame> SentFrames() {
  std::vector<SentFrame> frames;
  for (Bytes raw : sim::RecordedCalls().framesWritten) {
    SentFrame frame;
    if (!raw.empty() && raw[0] == (0x5A ^ XorKeyA[0])) {
      frame.scrambled = true;
      raw = Scrambled(raw, XorKeyA);
    }
    if (raw.size() < 15) continue;
    frame.code = Big16(&raw[1]);
    frame.total = Big16(&raw[3]);
    frame.index = Big16(&raw[5]);
    frame.chunkSize = raw[7];
    const std::size_t n = Big16(&raw[11]);
    if (13 + n <= raw.size()) frame.payload.assign(raw.begin() + 13, raw.begin() + 13 + static_cast<long>(n));
    frames.push_back(std::move(frame));
  }
  return frames;
}

std::vector<std::uint16_t> SentCodes() {
  std::vector<std::uint16_t> codes;
  for (const SentFrame& frame : SentFrames()) codes.push_back(frame.code);
  return codes;
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

Bytes ImageFile(std::size_t size, std::uint8_t alternate, std::uint8_t tag, std::uint8_t byte108,
                std::uint32_t seed) {
  Bytes bytes = Pattern(size, seed);
  if (size >= 128) {
    bytes[108] = byte108;
    bytes[110] = alternate;
    bytes[111] = tag;
  }
  return bytes;
}

Bytes Scrambled(Bytes bytes, const std::uint8_t (&key)[kXorKeySize]) {
  Scramble(bytes.data(), static_cast<std::uint32_t>(bytes.size()), key);
  return bytes;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + length));
}

std::string Text(int number) {
  char text[8];
  std::snprintf(text, sizeof text, "M%02d", number);
  return text;
}

void WriteMessageTable(const std::string& dir) {
  std::ofstream ini(dir + "/setting.ini");
  ini << "[Strings]\n";
  for (int n = 0; n <= 54; ++n) {
    char key[16];  // room for any int, so no optimisation level warns of truncation
    std::snprintf(key, sizeof key, "S%04d", n);
    ini << key << '=' << Text(n) << '\n';
  }
  ini.close();
  g_iniPath = dir + "/setting.ini";
}

void EngineTest::SetUp() {
  char pattern[] = "/tmp/tamsolt-engine-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir = pattern;
  WriteMessageTable(dir);
  ResetTransfer();
  SetStagingAllocator(nullptr);
  UseDevice(sim::Faults{});
  host = std::make_unique<FakeHost>(clock);
  host->wallBase = 1'700'000'000;
}

void EngineTest::TearDown() {
  SetStagingAllocator(nullptr);
  host.reset();
  sim::InstallInProcessDevice(nullptr, &clock);
  model.reset();
  ResetTransfer();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void EngineTest::UseDevice(const sim::Faults& faults) {
  model = std::make_unique<sim::DeviceModel>(faults, "");
  sim::InstallInProcessDevice(model.get(), &clock);
  g_transfer.m_dev = nullptr;
  g_transfer.interfaceClaimed = 0;
  g_transfer.deviceFound = 0;
}

std::string EngineTest::WriteFile(const std::string& name, const Bytes& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

const Bytes& EngineTest::Received(const std::string& image) const {
  static const Bytes kNone;
  const auto& images = model->Images();
  const auto it = images.find(image);
  return it == images.end() ? kNone : it->second;
}

std::vector<std::string> EngineTest::LogTexts() const {
  std::vector<std::string> texts;
  for (const std::string& line : host->logLines) texts.push_back(line.size() >= 8 ? line.substr(8) : line);
  return texts;
}

std::vector<std::string> EngineTest::BoxTexts() const {
  std::vector<std::string> texts;
  for (const auto& box : host->boxes) texts.push_back(box.text);
  return texts;
}
