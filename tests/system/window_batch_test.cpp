// The whole tool as the operator uses it: the real window (offscreen), the
// real libusb 0.1 under umockdev, the emulated device. All nine rows are
// enabled in setting.ini, the batch button is pressed, and every image the
// device stored must equal its source in the form the device takes it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <array>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/messages.h"
#include "app/qt_host.h"
#include "app/settings.h"
#include "engine/transfer_context.h"
#include "link/command_frames.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

// A boot loader or host program: 128-byte header, payload, 2-byte trailer.
Bytes ProgramImage(std::size_t payload, std::uint8_t seed, std::uint8_t altCodeSet) {
  Bytes file(128, 0);
  file[110] = altCodeSet;
  const Bytes body = Pattern(payload, seed);
  file.insert(file.end(), body.begin(), body.end());
  file.push_back(0xEE);
  file.push_back(0xEF);
  return file;
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Rgb {
  std::uint8_t r, g, b;
};
Rgb PixelAt(int x, int y) {
  return {static_cast<std::uint8_t>(30 * x + 5), static_cast<std::uint8_t>(60 * y + 3),
          static_cast<std::uint8_t>(255 - 20 * x - 10 * y)};
}

// A bottom-up 24-bit BMP with rows padded to four bytes.
Bytes Bitmap(int w, int h) {
  const int stride = (w * 3 + 3) & ~3;
  Bytes file(54 + static_cast<std::size_t>(stride * h), 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<std::uint32_t>(file.size()));
  Put32(file, 10, 54);
  Put32(file, 14, 40);
  Put32(file, 18, static_cast<std::uint32_t>(w));
  Put32(file, 22, static_cast<std::uint32_t>(h));
  Put16(file, 26, 1);
  Put16(file, 28, 24);
  for (int y = 0; y < h; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>(stride * (h - 1 - y));
    for (int x = 0; x < w; ++x) {
      const Rgb p = PixelAt(x, y);
      file[row + 3 * x] = p.b;
      file[row + 3 * x + 1] = p.g;
      file[row + 3 * x + 2] = p.r;
    }
  }
  return file;
}

// The device's picture: header, RGB565 pixels top row first, 8 zero bytes.
Bytes DevicePicture(int w, int h) {
  Bytes out = {0x10, 0x10, 0, static_cast<std::uint8_t>(w), 0, static_cast<std::uint8_t>(h), 0x01, 0x1B};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb p = PixelAt(x, y);
      const unsigned v = ((p.r & 0xF8u) << 8) | ((p.g & 0xFCu) << 3) | (p.b >> 3);
      out.push_back(static_cast<std::uint8_t>(v >> 8));
      out.push_back(static_cast<std::uint8_t>(v));
    }
  }
  out.resize(out.size() + 8, 0);
  return out;
}

Bytes Scrambled(Bytes bytes, const std::uint8_t (&key)[256]) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= key[i % 256];
  return bytes;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Shown {
  std::string text, title;
};

TEST(WindowBatch, EveryRowReachesTheDeviceByteForByte) {
  const char* received = std::getenv("TAMSOLT_RECEIVED_DIR");
  ASSERT_NE(received, nullptr) << "run under tamsolt-sim-run --out=DIR with TAMSOLT_RECEIVED_DIR=DIR";
  const fs::path out = received;
  for (const char* name : {"boot", "host", "rcdb", "font", "lang", "fv", "bmp", "pic", "tdb"}) {
    fs::remove(out / (std::string(name) + ".bin"));
  }

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const fs::path dir = folder.path().toStdString();
  fs::copy_file(TAMSOLT_SHIPPED_SETTINGS, dir / "setting.ini");
  g_iniPath = (dir / "setting.ini").string();

  constexpr int kW = 8, kH = 4;
  const std::array<Bytes, kKindCount> files = {
      ProgramImage(300, 1, 1),  // BOOT, with the alternate-code flag
      ProgramImage(200, 2, 0),  // HOST
      Pattern(120, 3),          // RCDB: short blocks
      Pattern(5000, 4),         // FONT: three data blocks
      Pattern(2100, 5),         // LANG
      Pattern(160, 6),          // FV
      Bitmap(kW, kH),           // BMP
      Pattern(3000, 7),         // PIC
      [] {                      // TDB: header, then 300 bytes of test data
        Bytes tdb(256, 0xAB);
        const Bytes data = Pattern(300, 8);
        tdb.insert(tdb.end(), data.begin(), data.end());
        return tdb;
      }(),
  };
  static constexpr const char* kExtensions[kKindCount] = {".bin", ".bin", ".rdb",  ".pack", ".lang",
                                                          ".fv",  ".bmp", ".pic", ".tdb"};
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const fs::path path = dir / (std::string(KindName(kind)) + kExtensions[kind]);
    WriteAll(path, files[kind]);
    ASSERT_TRUE(WriteSetting("setup", KindName(kind), "1"));
    ASSERT_TRUE(WriteSetting("PATH", KindName(kind), path.string()));
  }

  CTamsoltDlg dialog;
  std::vector<Shown> shown;
  bool done = false;
  dialog.EngineHostImpl().SetMessagePresenter(
      [&](const std::string& text, const std::string& title, MessageIcon) {
        shown.push_back({text, title});
        if (text == MessageText(kMsgDone)) done = true;
      });
  dialog.show();
  QApplication::processEvents();

  auto* batch = qobject_cast<QPushButton*>(dialog.Control(1047));
  ASSERT_NE(batch, nullptr);
  QTest::mouseClick(batch, Qt::LeftButton);
  QElapsedTimer guard;
  guard.start();
  while (!done && guard.elapsed() < 60000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  QApplication::processEvents();

  ASSERT_TRUE(done) << "no completion box within a minute; boxes: " << shown.size();
  ASSERT_EQ(shown.size(), 1u) << shown.front().text;
  EXPECT_EQ(shown[0].title, MessageText(kMsgTitle));
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.m_dev, nullptr) << "the link is closed before the completion box";

  // Every item's completion line, in kind order.
  std::vector<std::string> log;
  for (int i = 0; i < dialog.LogList()->count(); ++i) log.push_back(dialog.LogList()->item(i)->text().toStdString());
  for (const std::string& line : log) std::printf("log  %s\n", line.c_str());
  std::size_t next = 0;
  for (int kind = 0; kind < kKindCount; ++kind) {
    const std::string finished = MessageText(MsgItemFinished(kind));
    while (next < log.size() && log[next].substr(8) != finished) ++next;
    EXPECT_LT(next, log.size()) << "no completion line for " << KindName(static_cast<std::uint8_t>(kind));
  }

  auto payload = [&](int kind) {
    const Bytes& f = files[kind];
    return Bytes(f.begin() + 128, f.end() - 2);
  };
  const Bytes tdbData(files[kKindTdb].begin() + 256, files[kKindTdb].end());
  const std::array<Bytes, kKindCount> expected = {
      Scrambled(payload(kKindBoot), XorKeyB), Scrambled(payload(kKindHost), XorKeyB),
      Scrambled(files[kKindRcdb], XorKeyB),    Scrambled(files[kKindFont], XorKeyB),
      files[kKindLang],                        files[kKindFv],
      DevicePicture(kW, kH),                   Scrambled(files[kKindPic], XorKeyB),
      tdbData,
  };
  static constexpr const char* kStored[kKindCount] = {"boot", "host", "rcdb", "font", "lang",
                                                      "fv",   "bmp",  "pic",  "tdb"};
  for (int kind = 0; kind < kKindCount; ++kind) {
    const Bytes got = ReadAll(out / (std::string(kStored[kind]) + ".bin"));
    const Bytes& want = expected[kind];
    // Short-block images are stored in whole 53-byte blocks.
    ASSERT_GE(got.size(), want.size()) << kStored[kind];
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << kStored[kind] << " differs";
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
