// The per-row download buttons: each sends its row's file alone, through the
// same state machine as the batch.
#include "engine/single_download.h"

#include "settings/messages.h"
#include "engine/engine_host.h"
#include "engine/image_files.h"
#include "engine/image_pins.h"
#include "engine/image_staging.h"
#include "engine/progress_log.h"
#include "engine/state_machine.h"
#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/usb_link.h"

namespace {

// A single BOOT or HOST image is scrambled with key A, not the batch's key B.
const std::uint8_t (*SingleKey(std::uint8_t kind))[kXorKeySize] {
  switch (kind) {
    case kKindBoot:
    case kKindHost:
      return &XorKeyA;
    case kKindRcdb:
    case kKindFont:
    case kKindPic:
      return &XorKeyB;
    default:
      return nullptr;
  }
}

void ShowHint(const char* text) { ShowOperatorMessage(text, kTextHintTitle, MessageIcon::Warning); }

// Fields, first command and first timer of each row.
void SendFirstCommand(std::uint8_t kind) {
  TransferContext& t = g_transfer;
  switch (kind) {
    case kKindBoot:
      t.targetId = 3;
      t.itemCommand = 66;
      // The first begin of a single BOOT always uses the normal codes.
      SendBegin(false, t.targetId);
      Host().SetTimer(kTimerBegin, kTimerPeriodMs);
      break;
    case kKindHost:
      t.targetId = 2;
      SendBegin(t.altCodeSet != 0, t.targetId);
      Host().SetTimer(kTimerBegin, kTimerPeriodMs);
      break;
    case kKindRcdb:
    case kKindFont:
    case kKindLang:
      t.itemCommand = kind == kKindRcdb ? 17 : kind == kKindFont ? 18 : 34;
      SendConnect();
      Host().SetTimer(kTimerConnect, kTimerPeriodMs);
      break;
    default:  // FV, BMP, PIC
      t.itemCommand = kind == kKindFv ? 25 : kind == kKindBmp ? 26 : 35;
      SendDataBlock(t.fileBuffer, t.fileLength);
      Host().SetTimer(kTimerFirstBlock, kTimerPeriodMs);
      break;
  }
}

void DownloadSingle(std::uint8_t kind) {
  TransferContext& t = g_transfer;
  if (t.busy != 0) return;
  const std::string path = Host().RowPath(kind);
  if (path.empty()) {
    ShowHint(kind == kKindBmp ? kTextChoosePicture : kTextChooseFile);
    return;
  }
  if (!PathExists(path)) {
    ShowHint(kTextBadPath);
    return;
  }
  if (const ImageCheck check = CheckImageFile(kind, path, DownloadMode::kSingle); !check.ok()) {
    ShowRefusal(kind, check.refusal, check.maxSize);
    return;
  }
  if (!CheckPinAtPress(kind, path)) return;
  StagingBuffer staging;
  if (IsBootOrHost(kind)) {
    staging = AllocateStaging(kind == kKindBoot ? kBootStagingSize : kHostStagingSize);
    if (!staging) {
      ShowHint(kTextNoMemory);
      return;
    }
  }
  if (!FindDevice()) {
    t.interfaceClaimed = 0;
    return;
  }
  // Without an open link nothing could be sent; its message has been shown.
  if (t.interfaceClaimed == 0 && !OpenDevice()) return;
  // Loaded before busy is set, so a file that changed since its check is
  // refused with nothing started.
  LoadedFile loaded;
  if (const ImageCheck check =
          LoadImageFile(kind, path, DownloadMode::kSingle, staging.get(), &loaded);
      !check.ok()) {
    ShowRefusal(kind, check.refusal, check.maxSize);
    return;
  }
  if (!CheckPinOfLoadedBytes(kind, loaded.sha256)) return;
  staging.reset();

  // Items a failed batch left behind must not follow this download.
  t.batchQueue.clear();
  t.busy = 1;
  ResetCounters(t);
  if (const auto* key = SingleKey(kind)) Scramble(t.fileBuffer, t.fileLength, *key);
  t.blockIndex = 0;
  t.blockCount = ItemBlockCount(kind, t.fileLength);
  SetProgressRange();
  t.itemKind = kind;
  SendFirstCommand(kind);
}

}  // namespace

void OnDownloadBoot() { DownloadSingle(kKindBoot); }
void OnDownloadHost() { DownloadSingle(kKindHost); }
void OnDownloadRcdb() { DownloadSingle(kKindRcdb); }
void OnDownloadFont() { DownloadSingle(kKindFont); }
void OnDownloadLang() { DownloadSingle(kKindLang); }
void OnDownloadFv() { DownloadSingle(kKindFv); }
void OnDownloadBmp() { DownloadSingle(kKindBmp); }
void OnDownloadPic() { DownloadSingle(kKindPic); }
