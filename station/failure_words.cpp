#include "station/failure_words.h"

namespace {

constexpr int kSignalBase = 128;  // a writer ended by signal N exits 128 + N

struct ExitWords {
  int code;
  const char* name;  // the CLI's exit_name
  const char* words;
};

// The exits of `tamsolt-cli --help` a writer of one board can end with.
constexpr ExitWords kExits[] = {
    {3, "row refused", QT_TRANSLATE_NOOP("FailureWords", "要写入的文件被拒绝")},
    {4, "device not found", QT_TRANSLATE_NOOP("FailureWords", "未找到设备")},
    {5, "device not opened", QT_TRANSLATE_NOOP("FailureWords", "无法打开设备")},
    {6, "no permission on the device", QT_TRANSLATE_NOOP("FailureWords", "无权访问设备")},
    {7, "begin refused", QT_TRANSLATE_NOOP("FailureWords", "设备拒绝开始下载")},
    {8, "transfer gave up", QT_TRANSLATE_NOOP("FailureWords", "传输失败")},
    {9, "no device in time", QT_TRANSLATE_NOOP("FailureWords", "设备未及时连接")},
    {10, "interrupted", QT_TRANSLATE_NOOP("FailureWords", "写入被中断")},
    {12, "no recipe to write", QT_TRANSLATE_NOOP("FailureWords", "无可写入的配方")},
};

}  // namespace

QString FailureWords::OfExit(std::optional<int> code, const std::string& name) {
  for (const ExitWords& exit : kExits) {
    if (code ? *code == exit.code : name == exit.name) return tr(exit.words);
  }
  if (code && *code > kSignalBase) return tr("写入程序被信号 %1 结束").arg(*code - kSignalBase);
  if (code) return tr("写入失败（代码 %1）").arg(*code);
  return tr("写入失败");
}

QString FailureWords::Of(const Slot& slot) {
  const std::string& kind = slot.reasonKind;
  if (kind == "interrupted") {
    return slot.item.empty() ? tr("写入被中断") : tr("写入被中断（%1）").arg(QString::fromStdString(slot.item));
  }
  if (kind == "killed") return tr("停止时被强制结束");
  if (kind == "not-started") return tr("未能启动写入程序");
  if (kind == "no-recipe") return tr("无可写入的配方");
  if (kind == "exit") return OfExit(slot.exitCode, slot.reason);
  return QString::fromStdString(slot.reason);  // a box's words, or a kind this window does not know
}
