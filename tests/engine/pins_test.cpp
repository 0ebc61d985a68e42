// Rows pinned by their SHA-256 in section [SHA256]: a file with another digest
// is refused before the device is touched, a file replaced after the press is
// refused before it goes out, and a matching pin is named in the log.
#include <algorithm>
#include <cctype>

#include "engine/batch.h"
#include "engine/image_pins.h"
#include "engine/sha256.h"
#include "engine/single_download.h"
#include "engine_fixture.h"
#include "settings/settings.h"
#include "sim/inprocess_usb.h"

namespace {

std::string DigestOf(const Bytes& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

class Pins : public EngineTest {
 protected:
  void Pin(std::uint8_t kind, const std::string& digest) {
    ASSERT_TRUE(WriteProfileString(g_iniPath, kPinSection, KindName(kind), digest));
  }
};

TEST_F(Pins, AChangedFileIsRefusedBeforeTheDeviceIsTouched) {
  const Bytes pinned = Pattern(500, 1);
  const Bytes other = Pattern(500, 2);
  Put(kKindRcdb, Pattern(200, 3));
  Put(kKindFv, other);
  Pin(kKindFv, DigestOf(pinned));
  Press(&OnBatchDownload);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "FV: the file's SHA-256 " + DigestOf(other).substr(0, 12) +
                               " differs from the pinned " + DigestOf(pinned).substr(0, 12));
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
  EXPECT_EQ(sim::RecordedCalls().bulkWrite, 0);
  EXPECT_EQ(g_transfer.busy, 0);
}

TEST_F(Pins, AMatchingPinInAnyCaseIsLoggedAndWritten) {
  const Bytes file = Pattern(500, 1);
  std::string upper = DigestOf(file);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Put(kKindFv, file);
  Pin(kKindFv, upper);
  Press(&OnBatchDownload);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
  ASSERT_FALSE(LogTexts().empty());
  EXPECT_EQ(LogTexts()[0], "FV pinned, SHA-256 " + DigestOf(file).substr(0, 12));
}

TEST_F(Pins, AMalformedPinRefusesTheRow) {
  Put(kKindRcdb, Pattern(200, 3));
  Pin(kKindRcdb, "12345");
  Press(&OnBatchDownload);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"RCDB: the pinned SHA-256 \"12345\" is not 64 hex digits"});
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
}

TEST_F(Pins, AFileReplacedAfterThePressDoesNotGoOut) {
  const Bytes pinned = Pattern(300, 1);
  Put(kKindRcdb, Pattern(200, 3));
  Put(kKindFv, pinned);
  Pin(kKindFv, DigestOf(pinned));
  bool replaced = false;
  host->beforeTick = [&](std::uint32_t) {
    if (!replaced && g_transfer.itemKind == kKindRcdb && g_transfer.busy != 0) {
      WriteFile(KindName(kKindFv), Pattern(300, 9));
      replaced = true;
    }
  };
  Press(&OnBatchDownload);
  ASSERT_TRUE(replaced);
  ASSERT_GE(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].rfind("FV: the file's SHA-256 ", 0), 0u) << BoxTexts()[0];
  EXPECT_EQ(g_transfer.busy, 0);
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 25), 0);  // no FV frame went out
}

TEST_F(Pins, ASingleDownloadHonoursThePin) {
  host->Row(kKindLang, WriteFile("lang", Pattern(100, 5)));
  Pin(kKindLang, DigestOf(Pattern(100, 6)));
  Press(&OnDownloadLang);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0].rfind("LANG: the file's SHA-256", 0), 0u);
  EXPECT_EQ(sim::RecordedCalls().findBusses, 0);
}

TEST_F(Pins, TheSectionSharesItsKeysWithOtherSectionsWithoutMixingThem) {
  ASSERT_TRUE(WriteProfileString(g_iniPath, "PATH", "BOOT", "/images/boot.bin"));
  ASSERT_TRUE(WriteProfileString(g_iniPath, "setup", "BOOT", "1"));
  Pin(kKindBoot, std::string(64, 'a'));
  ASSERT_TRUE(WriteProfileString(g_iniPath, "ledger", "path", "/var/lib/tamsolt/ledger.sqlite"));
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/images/boot.bin");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  EXPECT_EQ(PinnedDigest(kKindBoot), std::string(64, 'a'));
  EXPECT_EQ(PinnedDigest(kKindHost), "");
  EXPECT_EQ(Text(50), "M50");  // the message table reads as before
}

}  // namespace
