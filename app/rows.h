// The nine download rows: which controls make up each row, its file filter,
// and the three things a row does (restore at start, toggle on a check-box
// click, browse for a file). The enable flag lives in section "setup" and the
// browsed path in section "PATH" of setting.ini, both under the kind's name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

struct RowLayout {
  std::uint8_t kind;
  int groupId;
  int checkId;
  int pathId;
  int browseId;
  int downloadId;  // 0: the row has no download button
  const char* filterDescription;
  const char* filterPatterns;  // space-separated glob patterns
};

// In kind order, BOOT first.
const std::array<RowLayout, 9>& RowLayouts();
const RowLayout& RowOf(std::uint8_t kind);

// The row's single open-file filter in Qt's "description (patterns)" form.
std::string RowFileFilter(std::uint8_t kind);

// Shown under title S0011 when the chosen BMP file cannot be read as a picture.
inline constexpr const char* kTextNotABitmap = "所选文件不是可读取的BMP图片。";

// Runs the open-file dialog with the given filter; the chosen full path, or
// empty when the operator cancelled.
using FileChooser = std::function<std::string(const std::string& filter)>;

struct RowWidgets {
  QCheckBox* check = nullptr;
  QLineEdit* path = nullptr;
  QPushButton* browse = nullptr;
};

// Check box, enabled state of path field and browse button, and path text from
// the settings file.
void RestoreRow(std::uint8_t kind, const RowWidgets& row);
// After a click on the check box: enable or disable the row and store the flag.
void ToggleRow(std::uint8_t kind, const RowWidgets& row);
// Lets the operator choose the row's file; a confirmed choice goes into the path
// field and into the settings file. Typed paths are never stored.
void BrowseRow(std::uint8_t kind, const RowWidgets& row, const FileChooser& chooseFile);
