#include "engine/press_check.h"

#include "engine/image_refusals.h"
#include "settings/messages.h"

PressRefusal CheckRowAtPress(std::uint8_t kind, const std::string& path, std::uint8_t expectedTag,
                             std::uint8_t (&header)[kImageHeaderSize]) {
  PressRefusal refusal;
  if (path.empty()) {
    refusal.message = MsgPathEmpty(kind);
    return refusal;
  }
  if (!PathExists(path)) {
    refusal.message = MsgFileMissing(kind);
    return refusal;
  }
  if (IsBootOrHost(kind)) {
    refusal.image.refusal = ReadImageHeader(path, header);
    if (!refusal.image.ok()) return refusal;
    if (header[111] != expectedTag) {
      refusal.message = kind == kKindBoot ? kMsgBootTag : kMsgHostTag;
      return refusal;
    }
  }
  refusal.image = CheckImageFile(kind, path, DownloadMode::kBatch);
  return refusal;
}

std::string PressRefusalText(std::uint8_t kind, const PressRefusal& refusal) {
  if (refusal.message != 0) return MessageText(refusal.message);
  return RefusalText(kind, refusal.image.refusal, refusal.image.maxSize);
}
