// The nine download rows: restore at start, toggle, browse, and the boot-up
// picture's size limit.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>
#include <tuple>

#include "settings/messages.h"
#include "tests/app/window_test_support.h"
#include "tests/engine/bmp_files.h"

namespace {

using Rows = WindowTest;

std::string Stored(const char* section, std::uint8_t kind) {
  return ReadProfileString(g_iniPath, section, KindName(kind));
}

// Each click flips the row's controls and stores its flag under its own key
// only; the path stays. Hidden rows too.
TEST_F(Rows, ClickingTheCheckBoxTogglesTheRowAndStoresTheFlag) {
  WriteSetting("PATH", "TDB", "/data/line7.tdb");
  auto dialog = OpenDialog();
  for (const RowLayout& row : RowLayouts()) {
    SCOPED_TRACE(KindName(row.kind));
    for (const bool on : {true, false}) {
      dialog->RowCheck(row.kind)->click();
      EXPECT_EQ(Stored("setup", row.kind), on ? "1" : "0");
      EXPECT_EQ(dialog->PathField(row.kind)->isEnabled(), on);
      EXPECT_EQ(dialog->BrowseButton(row.kind)->isEnabled(), on);
    }
    for (const RowLayout& other : RowLayouts()) {
      if (other.kind > row.kind) {
        EXPECT_EQ(Stored("setup", other.kind), "");
      }
    }
  }
  EXPECT_EQ(dialog->PathField(kKindTdb)->text(), QStringLiteral("/data/line7.tdb"));
}

TEST_F(Rows, EveryRowComesBackAsStoredHiddenOnesIncluded) {
  const char* flags[] = {"1", "0", "2", "1", "x1", "0", "1", "1", ""};
  for (const RowLayout& row : RowLayouts()) {
    WriteSetting("setup", KindName(row.kind), flags[row.kind]);
    WriteSetting("PATH", KindName(row.kind), std::string("/images/") + KindName(row.kind) + ".img");
  }
  auto dialog = OpenDialog();
  const bool expected[] = {true, false, true, true, false, false, true, true, false};
  for (const RowLayout& row : RowLayouts()) {
    SCOPED_TRACE(KindName(row.kind));
    EXPECT_EQ(dialog->RowCheck(row.kind)->isChecked(), expected[row.kind]);
    EXPECT_EQ(dialog->PathField(row.kind)->isEnabled(), expected[row.kind]);
    EXPECT_EQ(dialog->BrowseButton(row.kind)->isEnabled(), expected[row.kind]);
    // A disabled row still shows its path.
    EXPECT_EQ(dialog->PathField(row.kind)->text().toStdString(),
              std::string("/images/") + KindName(row.kind) + ".img");
  }
  // Restoring writes nothing back.
  EXPECT_EQ(Stored("setup", kKindLang), "x1");
}

TEST_F(Rows, BrowsedPathIsShownStoredAndBackAfterRestart) {
  WriteSetting("setup", "HOST", "1");
  nextChoice_ = "/srv/images/主机 程序.bin";
  {
    auto dialog = OpenDialog();
    QTest::mouseClick(dialog->BrowseButton(kKindHost), Qt::LeftButton);
    EXPECT_EQ(dialog->PathField(kKindHost)->text().toStdString(), nextChoice_);
    EXPECT_EQ(Stored("PATH", kKindHost), nextChoice_);
  }
  auto again = OpenDialog();
  EXPECT_EQ(again->PathField(kKindHost)->text().toStdString(), nextChoice_);
}

TEST_F(Rows, CancellingTheFileDialogChangesNothing) {
  WriteSetting("setup", "HOST", "1");
  WriteSetting("PATH", "HOST", "/old/host.bin");
  auto dialog = OpenDialog();
  nextChoice_.clear();
  dialog->BrowseButton(kKindHost)->click();
  EXPECT_EQ(filters_.size(), 1U);
  EXPECT_EQ(dialog->PathField(kKindHost)->text(), QStringLiteral("/old/host.bin"));
  EXPECT_EQ(Stored("PATH", kKindHost), "/old/host.bin");
}

TEST_F(Rows, TypedPathIsUsedButGoneAfterRestart) {
  WriteSetting("setup", "BOOT", "1");
  WriteSetting("PATH", "BOOT", "/stored/boot.bin");
  {
    auto dialog = OpenDialog();
    QLineEdit* field = dialog->PathField(kKindBoot);
    field->clear();
    QTest::keyClicks(field, "/typed/");
    field->insert(QStringLiteral("引导.bin"));  // key clicks are ASCII only
    EXPECT_EQ(dialog->EngineHostImpl().RowPath(kKindBoot), "/typed/引导.bin");
  }
  EXPECT_EQ(Stored("PATH", kKindBoot), "/stored/boot.bin");
  auto again = OpenDialog();
  EXPECT_EQ(again->PathField(kKindBoot)->text(), QStringLiteral("/stored/boot.bin"));
}

TEST_F(Rows, EachRowOffersItsOwnFilter) {
  auto dialog = OpenDialog();
  nextChoice_.clear();
  for (const RowLayout& row : RowLayouts()) {
    dialog->RowCheck(row.kind)->click();
    dialog->BrowseButton(row.kind)->click();
  }
  const std::vector<std::string> expected = {
      "BOOT文件(*.bin) (*.bin)",
      "BIN File(*.bin) (*.bin)",
      "rcdb files(*.rdbx,*.rdb,*.p33p) (*.rdbx *.rdb *.p33p)",
      "Archive File(*.pack) (*.pack)",
      "Archive File(*.lang) (*.lang)",
      "Archive File(*.fv) (*.fv)",
      "BMP(*.bmp) (*.bmp)",
      "Archive File(*.pic) (*.pic)",
      "Archive File(*.tdb) (*.tdb)",
  };
  EXPECT_EQ(filters_, expected);
}

// The open-file dialog itself shows the row's filter text as it stands,
// without Qt appending the patterns a second time.
TEST_F(Rows, FileDialogShowsTheFilterTextOnce) {
  auto dialog = OpenDialog();
  dialog->SetFileChooser({});
  std::string shown;
  QTimer::singleShot(0, [&shown] {
    auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fileDialog, nullptr);
    if (auto* types = fileDialog->findChild<QComboBox*>("fileTypeCombo")) shown = types->currentText().toStdString();
    fileDialog->reject();
  });
  dialog->RowCheck(kKindBoot)->click();
  dialog->BrowseButton(kKindBoot)->click();
  EXPECT_EQ(shown, "BOOT文件(*.bin)");
}

class BootPictureRow : public Rows {
 protected:
  void SetUp() override {
    Rows::SetUp();
    SetText(11, "错误");
    SetText(31, "图片太大");
    WriteSetting("setup", "BMP", "1");
    WriteSetting("PATH", "BMP", "/previous.bmp");
  }

  std::string Picture(const char* name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    const std::string path = Path(name);
    EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    return path;
  }

  std::string Written(const char* name, const Bytes& bytes) {
    const std::string path = Path(name);
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
  }

  std::string Chosen(const std::string& path) {
    auto dialog = OpenDialog();
    nextChoice_ = path;
    dialog->BrowseButton(kKindBmp)->click();
    return dialog->PathField(kKindBmp)->text().toStdString();
  }
};

TEST_F(BootPictureRow, FullSizePictureIsAccepted) {
  const std::string path = Picture("full.bmp", 160, 128);
  EXPECT_EQ(Chosen(path), path);
  EXPECT_EQ(Stored("PATH", kKindBmp), path);
  EXPECT_TRUE(messages_.empty());
  const std::string small = Picture("small.bmp", 1, 1);
  EXPECT_EQ(Chosen(small), small);
}

// Too wide or too high is an error; a file Qt cannot read as a bitmap (text,
// a PNG named .bmp, nothing there) only a warning. The old path stays.
TEST_F(BootPictureRow, PicturesItCannotTakeAreRefused) {
  const std::string text = Path("notes.bmp");
  QFile file(QString::fromStdString(text));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a picture at all");
  file.close();
  QImage png(10, 10, QImage::Format_RGB32);
  png.fill(Qt::blue);
  const std::string disguised = Path("disguised.bmp");
  ASSERT_TRUE(png.save(QString::fromStdString(disguised), "PNG"));
  const std::tuple<std::string, std::string, MessageIcon> cases[] = {
      {Picture("wide.bmp", 161, 128), "图片太大", MessageIcon::Error},
      {Picture("high.bmp", 160, 129), "图片太大", MessageIcon::Error},
      {text, kTextNotABitmap, MessageIcon::Warning},
      {disguised, kTextNotABitmap, MessageIcon::Warning},
      {Path("missing.bmp"), kTextNotABitmap, MessageIcon::Warning},
  };
  for (const auto& [path, message, icon] : cases) {
    messages_.clear();
    EXPECT_EQ(Chosen(path), "/previous.bmp") << path;
    EXPECT_EQ(Stored("PATH", kKindBmp), "/previous.bmp");
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, message);
    EXPECT_EQ(messages_[0].title, "错误");
    EXPECT_EQ(messages_[0].icon, icon);
  }
}

// The browse check reads a picture exactly as the download does: size first,
// then every pixel. A picture the download converts is accepted; one it
// refuses is refused here already.
TEST_F(BootPictureRow, BrowseGivesTheDownloadsAnswer) {
  const ::Picture small(2, std::vector<Rgb>(5, Rgb{200, 10, 10}));
  BmpLayout topDown;
  topDown.topDown = true;
  BmpLayout masked;
  masked.bitsPerPixel = 32;
  masked.bitfields = true;
  masked.masks[0] = 0xFF0000;
  masked.masks[1] = 0xFF00;
  masked.masks[2] = 0xFF;
  const Bytes plain = MakeBmp(small, BmpLayout{});
  const Bytes withMasks = MakeBmp(small, masked);
  const auto changed = [](Bytes bytes, const std::function<void(Bytes&)>& change) {
    change(bytes);
    return bytes;
  };
  enum Answer { kAccepted, kTooLarge, kNotBitmap };
  const std::tuple<const char*, Bytes, Answer> cases[] = {
      {"top-down", MakeBmp(small, topDown), kAccepted},
      {"top-down, too wide", MakeBmp(::Picture(2, std::vector<Rgb>(161)), topDown), kTooLarge},
      // Only the headers are there, but they say it is too large.
      {"too high, pixels cut", changed(MakeBmp(::Picture(129, std::vector<Rgb>(1)), BmpLayout{}),
                                       [](Bytes& b) { b.resize(54); }),
       kTooLarge},
      {"run-length encoded", MakeRleBmp(8, 5, 2, {Rgb{1, 2, 3}}, {5, 0, 0, 0, 5, 0, 0, 1}), kAccepted},
      {"a row missing", changed(plain, [](Bytes& b) { b.resize(b.size() - 16); }), kNotBitmap},
      {"pixels past the end", changed(plain, [](Bytes& b) { b[11] = 0x10; }), kNotBitmap},
      {"masks missing", changed(withMasks, [](Bytes& b) {
         b.erase(b.begin() + 54, b.begin() + 66);
         b[10] = 54;
       }), kNotBitmap},
      {"all masks zero", changed(withMasks, [](Bytes& b) { std::memset(&b[54], 0, 12); }), kNotBitmap},
  };
  for (const auto& [name, bytes, answer] : cases) {
    SCOPED_TRACE(name);
    messages_.clear();
    WriteSetting("PATH", "BMP", "/previous.bmp");
    const std::string path = Written(name, bytes);
    EXPECT_EQ(Chosen(path), answer == kAccepted ? path : "/previous.bmp");
    if (answer == kAccepted) {
      EXPECT_TRUE(messages_.empty());
      continue;
    }
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, answer == kTooLarge ? "图片太大" : kTextNotABitmap);
    EXPECT_EQ(messages_[0].icon, answer == kTooLarge ? MessageIcon::Error : MessageIcon::Warning);
  }
}

}  // namespace
