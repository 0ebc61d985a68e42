#include "app/dialog_layout.h"

#include <array>
#include <cstdint>

namespace {

using K = ControlKind;
constexpr bool kShown = true;
constexpr bool kHidden = false;
constexpr bool kOn = true;
constexpr bool kOff = false;

// Template 102, in tab order; a group box comes before the controls it frames,
// so the controls are drawn above it.
constexpr std::array kMainControls = {
    DialogControl{1062, K::GroupBox, "引导程序(*.bin)", 9, 7, 309, 36, kShown, kOn},
    DialogControl{1052, K::AutoCheckBox, "", 39, 23, 10, 10, kShown, kOn},
    DialogControl{1000, K::Edit, "", 55, 21, 224, 14, kShown, kOff},
    DialogControl{1001, K::PushButton, "...", 283, 21, 31, 14, kShown, kOff},
    DialogControl{1002, K::PushButton, "下载", 272, 7, 38, 14, kHidden, kOn},

    DialogControl{1063, K::GroupBox, "主机程序(*.bin)", 9, 45, 309, 34, kShown, kOn},
    DialogControl{1053, K::AutoCheckBox, "", 39, 59, 10, 10, kShown, kOn},
    DialogControl{1025, K::Edit, "", 55, 57, 224, 14, kShown, kOff},
    DialogControl{1026, K::PushButton, "...", 283, 57, 31, 14, kShown, kOff},
    DialogControl{1027, K::PushButton, "下载", 284, 43, 38, 14, kHidden, kOn},

    DialogControl{1064, K::GroupBox, "RCDB(*.rdbx,*.rdb,*.p33p)", 9, 81, 309, 34, kShown, kOn},
    DialogControl{1054, K::AutoCheckBox, "", 39, 95, 10, 10, kShown, kOn},
    DialogControl{1028, K::Edit, "", 55, 93, 224, 14, kShown, kOff},
    DialogControl{1029, K::PushButton, "...", 283, 93, 31, 14, kShown, kOff},
    DialogControl{1030, K::PushButton, "下载", 275, 83, 38, 14, kHidden, kOn},

    DialogControl{1065, K::GroupBox, "字体库(*.pack)", 9, 117, 309, 34, kHidden, kOn},
    DialogControl{1055, K::AutoCheckBox, "", 39, 131, 10, 10, kHidden, kOn},
    DialogControl{1031, K::Edit, "", 55, 129, 224, 14, kHidden, kOff},
    DialogControl{1032, K::PushButton, "...", 283, 129, 31, 14, kHidden, kOff},
    DialogControl{1033, K::PushButton, "下载", 273, 123, 38, 14, kHidden, kOn},

    DialogControl{1066, K::GroupBox, "语言包(*.lang)", 9, 153, 309, 34, kHidden, kOn},
    DialogControl{1056, K::AutoCheckBox, "", 39, 169, 10, 10, kHidden, kOn},
    DialogControl{1034, K::Edit, "", 55, 167, 224, 14, kHidden, kOff},
    DialogControl{1035, K::PushButton, "...", 283, 165, 31, 14, kHidden, kOff},
    DialogControl{1036, K::PushButton, "下载", 273, 163, 38, 14, kHidden, kOn},

    DialogControl{1067, K::GroupBox, "语音报号(*.fv)", 9, 189, 309, 34, kShown, kOn},
    DialogControl{1057, K::AutoCheckBox, "", 39, 205, 10, 10, kShown, kOn},
    DialogControl{1037, K::Edit, "", 55, 203, 224, 14, kShown, kOff},
    DialogControl{1038, K::PushButton, "...", 283, 201, 31, 14, kShown, kOff},
    DialogControl{1039, K::PushButton, "下载", 273, 201, 38, 14, kHidden, kOn},

    DialogControl{1068, K::GroupBox, "开机图片(*.bmp)--最大支持160*128像素大小", 9, 225, 309, 34,
                  kHidden, kOn},
    DialogControl{1058, K::AutoCheckBox, "", 39, 241, 10, 10, kHidden, kOn},
    DialogControl{1040, K::Edit, "", 55, 239, 224, 14, kHidden, kOff},
    DialogControl{1041, K::PushButton, "...", 283, 237, 31, 14, kHidden, kOff},
    DialogControl{1042, K::PushButton, "下载", 273, 241, 38, 14, kHidden, kOn},

    DialogControl{1069, K::GroupBox, "图片资源包[*.pic]", 9, 262, 309, 34, kHidden, kOn},
    DialogControl{1059, K::AutoCheckBox, "", 39, 278, 10, 10, kHidden, kOn},
    DialogControl{1043, K::Edit, "", 55, 276, 224, 14, kHidden, kOff},
    DialogControl{1044, K::PushButton, "...", 283, 274, 31, 14, kHidden, kOff},
    DialogControl{1045, K::PushButton, "下载", 275, 279, 38, 14, kHidden, kOn},

    DialogControl{1070, K::GroupBox, "调测批写[*.tdb]", 9, 298, 309, 34, kShown, kOn},
    DialogControl{1060, K::AutoCheckBox, "", 39, 314, 10, 10, kShown, kOn},
    DialogControl{1049, K::Edit, "", 55, 312, 224, 14, kShown, kOff},
    DialogControl{1048, K::PushButton, "...", 283, 311, 31, 14, kShown, kOff},

    DialogControl{1061, K::ListBox, "", 9, 335, 253, 60, kShown, kOn},
    DialogControl{1047, K::DefPushButton, "批量下载", 267, 354, 47, 27, kShown, kOn},
    DialogControl{1051, K::StaticText, "", 2, 362, 206, 11, kHidden, kOn},
    DialogControl{1024, K::ProgressBar, "", 2, 398, 320, 9, kShown, kOn},
};

constexpr std::array kAboutControls = {
    DialogControl{kStaticId, K::StaticIcon, "", 11, 17, 20, 20, kShown, kOn},
    DialogControl{kStaticId, K::StaticText, "Tamsolt 1.0 版", 40, 10, 119, 8, kShown, kOn},
    DialogControl{1, K::DefPushButton, "确定", 178, 7, 50, 16, kShown, kOn},
};

constexpr DialogTemplate kMainTemplate{
    102, "VX742程序下载工具 V1.00.08", 327, 409, "宋体", 9, kMainControls};
constexpr DialogTemplate kAboutTemplate{100, "关于 Tamsolt", 235, 55, "宋体", 9, kAboutControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainTemplate; }
const DialogTemplate& AboutDialogTemplate() { return kAboutTemplate; }

const DialogControl* FindControl(const DialogTemplate& tmpl, int id) {
  for (const DialogControl& control : tmpl.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

DialogBaseUnits BaseUnitsFromMetrics(int widthOfAlphabet, int fontHeight) {
  // Half the width of 26 letters, rounded: the average of the 52 letters.
  return {(widthOfAlphabet / 26 + 1) / 2, fontHeight};
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const std::int64_t magnitude = product < 0 ? -product : product;
  const std::int64_t divisor = c < 0 ? -static_cast<std::int64_t>(c) : c;
  const std::int64_t rounded = (magnitude + divisor / 2) / divisor;
  return static_cast<int>(negative ? -rounded : rounded);
}
