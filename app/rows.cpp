#include "app/rows.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "settings/messages.h"
#include "settings/settings.h"
#include "engine/image_files.h"
#include "record/transfer_context.h"
#include "link/operator_messages.h"

namespace {

constexpr std::array<RowLayout, 9> kRows = {{
    {kKindBoot, 1062, 1052, 1000, 1001, 1002, "BOOT文件(*.bin)", "*.bin"},
    {kKindHost, 1063, 1053, 1025, 1026, 1027, "BIN File(*.bin)", "*.bin"},
    {kKindRcdb, 1064, 1054, 1028, 1029, 1030, "rcdb files(*.rdbx,*.rdb,*.p33p)",
     "*.rdbx *.rdb *.p33p"},
    {kKindFont, 1065, 1055, 1031, 1032, 1033, "Archive File(*.pack)", "*.pack"},
    {kKindLang, 1066, 1056, 1034, 1035, 1036, "Archive File(*.lang)", "*.lang"},
    {kKindFv, 1067, 1057, 1037, 1038, 1039, "Archive File(*.fv)", "*.fv"},
    {kKindBmp, 1068, 1058, 1040, 1041, 1042, "BMP(*.bmp)", "*.bmp"},
    {kKindPic, 1069, 1059, 1043, 1044, 1045, "Archive File(*.pic)", "*.pic"},
    {kKindTdb, 1070, 1060, 1049, 1048, 0, "Archive File(*.tdb)", "*.tdb"},
}};

void SetRowEnabled(const RowWidgets& row, bool enabled) {
  row.path->setEnabled(enabled);
  row.browse->setEnabled(enabled);
}

}  // namespace

const std::array<RowLayout, 9>& RowLayouts() { return kRows; }

const RowLayout& RowOf(std::uint8_t kind) { return kRows.at(kind); }

std::string RowFileFilter(std::uint8_t kind) {
  const RowLayout& row = RowOf(kind);
  return std::string(row.filterDescription) + " (" + row.filterPatterns + ")";
}

void RestoreRow(std::uint8_t kind, const RowWidgets& row) {
  const bool enabled = ReadSettingInt("setup", KindName(kind), 0) != 0;
  row.check->setChecked(enabled);
  SetRowEnabled(row, enabled);
  row.path->setText(QString::fromStdString(ReadSetting(KindName(kind), "PATH")));
}

void ToggleRow(std::uint8_t kind, const RowWidgets& row) {
  const bool enabled = row.check->isChecked();
  SetRowEnabled(row, enabled);
  WriteSetting("setup", KindName(kind), enabled ? "1" : "0");
}

void BrowseRow(std::uint8_t kind, const RowWidgets& row, const FileChooser& chooseFile) {
  const std::string chosen = chooseFile(RowFileFilter(kind));
  if (chosen.empty()) return;

  if (kind == kKindBmp) {
    // The download's own checks, pixels decoded and all: a picture accepted
    // here is one the download converts.
    const ImageCheck check = CheckImageFile(kKindBmp, chosen, DownloadMode::kSingle);
    if (check.refusal == ImageRefusal::kPictureTooLarge) {
      ShowTableMessage(kMsgPictureTooLarge, MessageIcon::Error);
      return;
    }
    if (!check.ok()) {
      ShowOperatorMessage(kTextNotABitmap, MessageText(kMsgTitle), MessageIcon::Warning);
      return;
    }
  }

  row.path->setText(QString::fromStdString(chosen));
  WriteSetting("PATH", KindName(kind), chosen);
}
