#include "engine/image_refusals.h"

#include "settings/messages.h"
#include "record/transfer_context.h"

std::string RefusalText(std::uint8_t kind, ImageRefusal refusal, std::uint32_t maxSize) {
  std::string text = KindName(kind);
  text += "：";
  switch (refusal) {
    case ImageRefusal::kNone:
      return {};
    case ImageRefusal::kUnreadable:
      text += "文件无法打开或读取。";
      break;
    case ImageRefusal::kFolder:
      text += "所选路径是文件夹，不是文件。";
      break;
    case ImageRefusal::kTooShort:
      text += "文件过短，至少 130 字节（128 字节文件头和 2 字节结尾）。";
      break;
    case ImageRefusal::kTooLarge:
      text += "文件过大，最大 " + std::to_string(maxSize) + " 字节。";
      break;
    case ImageRefusal::kEmpty:
      text += "文件中没有可下载的数据。";
      break;
    case ImageRefusal::kHeaderByte108:
      text += "文件头第 108 字节不为 0，无法下载。";
      break;
    case ImageRefusal::kTestDataTooShort:
      text += "文件过短，至少 256 字节（文件头）。";
      break;
    case ImageRefusal::kTestDataTooLong:
      text += "测试数据过多，最多 1007 字节（文件最大 1263 字节）。";
      break;
    case ImageRefusal::kNotBitmap:
      text += "文件不是可读取的 BMP 图片。";
      break;
    case ImageRefusal::kPictureTooLarge:
      text += "图片过大，最大 160 x 128 像素。";
      break;
    case ImageRefusal::kNoMemory:
      text += "内存不足，无法读取文件。";
      break;
  }
  return text;
}

void ShowRefusal(std::uint8_t kind, ImageRefusal refusal, std::uint32_t maxSize) {
  const std::string text = RefusalText(kind, refusal, maxSize);
  ShowOperatorMessage(text, MessageText(kMsgTitle), MessageIcon::Warning);
}
