// The nine download rows: restore at start, toggle, browse, and the boot-up
// picture's size limit.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/messages.h"
#include "tests/app/window_test_support.h"

namespace {

using Rows = WindowTest;

std::string Stored(const char* section, std::uint8_t kind) {
  return ReadProfileString(g_iniPath, section, KindName(kind));
}

TEST_F(Rows, ClickingTheCheckBoxEnablesTheRowAndStoresTheFlag) {
  WriteSetting("PATH", "TDB", "/data/line7.tdb");
  auto dialog = OpenDialog();
  QCheckBox* check = dialog->RowCheck(kKindTdb);
  QTest::mouseClick(check, Qt::LeftButton, {}, check->rect().center());
  EXPECT_TRUE(check->isChecked());
  EXPECT_TRUE(dialog->Control(1049)->isEnabled());
  EXPECT_TRUE(dialog->Control(1048)->isEnabled());
  EXPECT_EQ(Stored("setup", kKindTdb), "1");

  QTest::mouseClick(check, Qt::LeftButton, {}, check->rect().center());
  EXPECT_FALSE(dialog->Control(1049)->isEnabled());
  EXPECT_FALSE(dialog->Control(1048)->isEnabled());
  EXPECT_EQ(Stored("setup", kKindTdb), "0");
  EXPECT_EQ(dialog->PathField(kKindTdb)->text(), QStringLiteral("/data/line7.tdb"));
}

TEST_F(Rows, EveryRowStoresItsFlagUnderItsOwnKey) {
  auto dialog = OpenDialog();
  for (const RowLayout& row : RowLayouts()) {
    SCOPED_TRACE(KindName(row.kind));
    dialog->RowCheck(row.kind)->click();  // hidden rows too
    EXPECT_EQ(Stored("setup", row.kind), "1");
    EXPECT_TRUE(dialog->PathField(row.kind)->isEnabled());
    EXPECT_TRUE(dialog->BrowseButton(row.kind)->isEnabled());
    for (const RowLayout& other : RowLayouts()) {
      if (other.kind > row.kind) {
        EXPECT_EQ(Stored("setup", other.kind), "");
      }
    }
  }
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
    EXPECT_EQ(filters_, std::vector<std::string>{"BIN File(*.bin) (*.bin)"});
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
    QTest::keyClicks(field, "/typed/boot.bin");
    EXPECT_EQ(dialog->EngineHostImpl().RowPath(kKindBoot), "/typed/boot.bin");
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

TEST_F(Rows, RcdbDialogListsItsThreeExtensions) {
  // Qt's own file dialog reads the patterns out of the filter.
  QFileDialog fileDialog;
  fileDialog.setOption(QFileDialog::DontUseNativeDialog);
  fileDialog.setNameFilter(QString::fromStdString(RowFileFilter(kKindRcdb)));
  auto* model = fileDialog.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->nameFilters(),
            (QStringList{QStringLiteral("*.rdbx"), QStringLiteral("*.rdb"), QStringLiteral("*.p33p")}));
  fileDialog.setNameFilter(QString::fromStdString(RowFileFilter(kKindBoot)));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.bin")});
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

TEST_F(BootPictureRow, WiderOrHigherPictureIsRefusedWithTheErrorIcon) {
  for (const auto& [width, height] : {std::pair{161, 128}, std::pair{160, 129}}) {
    messages_.clear();
    const std::string path = Picture("big.bmp", width, height);
    EXPECT_EQ(Chosen(path), "/previous.bmp") << width << "x" << height;
    EXPECT_EQ(Stored("PATH", kKindBmp), "/previous.bmp");
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, "图片太大");
    EXPECT_EQ(messages_[0].title, "错误");
    EXPECT_EQ(messages_[0].icon, MessageIcon::Error);
  }
}

TEST_F(BootPictureRow, FileThatIsNoBitmapIsRefusedSayingSo) {
  const std::string text = Path("notes.bmp");
  QFile file(QString::fromStdString(text));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a picture at all");
  file.close();
  QImage png(10, 10, QImage::Format_RGB32);
  png.fill(Qt::blue);
  const std::string disguised = Path("disguised.bmp");
  ASSERT_TRUE(png.save(QString::fromStdString(disguised), "PNG"));

  for (const std::string& path : {text, disguised, Path("missing.bmp")}) {
    messages_.clear();
    EXPECT_EQ(Chosen(path), "/previous.bmp") << path;
    EXPECT_EQ(Stored("PATH", kKindBmp), "/previous.bmp");
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, kTextNotABitmap);
    EXPECT_EQ(messages_[0].title, "错误");
    EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
  }
}

}  // namespace
