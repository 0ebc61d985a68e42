// The batch: one press checks every enabled row in kind order, then the
// items run one after another inside a single begin/end exchange.
#include "engine/batch.h"

#include <cstring>

#include "settings/messages.h"
#include "engine/engine_host.h"
#include "engine/image_files.h"
#include "engine/image_pins.h"
#include "engine/image_staging.h"
#include "engine/press_check.h"
#include "engine/progress_log.h"
#include "engine/state_machine.h"
#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/usb_link.h"

namespace {

// Checks one enabled row; false after its message has been shown.
bool CheckRow(std::uint8_t kind, const std::string& path) {
  std::uint8_t header[kImageHeaderSize] = {};
  const PressRefusal refusal = CheckRowAtPress(kind, path, g_transfer.expectedImageTag, header);
  if (refusal.message != 0) {
    ShowTableMessage(refusal.message);
    return false;
  }
  if (!refusal.image.ok()) {
    ShowRefusal(kind, refusal.image.refusal, refusal.image.maxSize);
    return false;
  }
  if (IsBootOrHost(kind)) std::memcpy(g_transfer.imageHeader, header, kImageHeaderSize);
  return true;
}

// The table of item starts: scrambling key, command code and first frame.
const std::uint8_t (*BatchKey(std::uint8_t kind))[kXorKeySize] {
  switch (kind) {
    case kKindBoot:
    case kKindHost:
    case kKindRcdb:
    case kKindFont:
    case kKindPic:
      return &XorKeyB;
    default:
      return nullptr;
  }
}

std::uint16_t BatchCommand(std::uint8_t kind) {
  static constexpr std::uint16_t kCommands[kKindCount] = {66, 0, 17, 18, 34, 25, 26, 35, 99};
  return kCommands[kind];
}

void SendFirstFrame(std::uint8_t kind) {
  TransferContext& t = g_transfer;
  switch (kind) {
    case kKindBoot:
    case kKindHost:
      SendChunk(t.targetId, static_cast<std::uint16_t>(kChunk), t.fileBuffer, t.fileLength);
      Host().SetTimer(kTimerFirstChunk, kTimerPeriodMs);
      break;
    case kKindRcdb:
    case kKindFv:
      SendShortBlock(t.fileBuffer, t.fileLength);
      Host().SetTimer(kTimerFirstBlock, kTimerPeriodMs);
      break;
    case kKindTdb:
      Host().SetTimer(kTimerTestDataLoop, kTimerPeriodMs);
      break;
    default:
      SendDataBlock(t.fileBuffer, t.fileLength);
      Host().SetTimer(kTimerFirstBlock, kTimerPeriodMs);
      break;
  }
}

// An item that cannot start ends the batch: the reason, then the failure
// report. The item before may have left a poll counted.
void EndBatchAtItemStart() {
  ResetCounters(g_transfer);
  ReportFailure();
}

// Reads the item's file into the record; false when the batch has been ended.
bool LoadItem(std::uint8_t kind, const std::string& path) {
  StagingBuffer staging;
  if (IsBootOrHost(kind)) {
    staging = AllocateStaging(kBatchStagingSize);
    if (!staging) {
      ShowOperatorMessage(kind == kKindBoot ? kTextMallocBoot : kTextMallocHost, kTextWarningTitle,
                          MessageIcon::Warning);
      EndBatchAtItemStart();
      return false;
    }
  }
  LoadedFile loaded;
  const ImageCheck check = LoadImageFile(kind, path, DownloadMode::kBatch, staging.get(), &loaded);
  if (!check.ok()) {
    ShowRefusal(kind, check.refusal, check.maxSize);
    EndBatchAtItemStart();
    return false;
  }
  // A file replaced since the press must not go out under its pin.
  if (!CheckPinOfLoadedBytes(kind, loaded.sha256)) {
    EndBatchAtItemStart();
    return false;
  }
  Host().BatchItemStarted(kind, path, loaded.bytes, loaded.sha256);
  return true;
}

}  // namespace

void OnBatchDownload() {
  TransferContext& t = g_transfer;
  if (t.busy != 0) return;
  t.batchQueue.clear();
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (!Host().IsRowChecked(kind)) continue;
    std::string path = Host().RowPath(kind);
    if (!CheckRow(kind, path)) return;
    t.batchQueue.push_back(BatchItem{kind, std::move(path)});
  }
  if (t.batchQueue.empty()) {
    ShowTableMessage(kMsgQueueEmpty);
    return;
  }
  // Pinned rows are read whole here, before the device is touched.
  for (const BatchItem& item : t.batchQueue) {
    if (!CheckPinAtPress(item.kind, item.path)) return;
  }
  if (!FindDevice()) {
    t.interfaceClaimed = 0;
    return;
  }
  if (t.interfaceClaimed == 0) OpenDevice();
  if (t.m_dev == nullptr) {
    ShowTableMessage(kMsgNoHandle);
    return;
  }
  t.busy = 1;
  t.batchBegun = 0;
  ResetCounters(t);
  Host().ClearLog();
  // After the clear, so what the host says of it stays in the log.
  Host().BatchDeviceOpened();
  for (const BatchItem& item : t.batchQueue) {
    if (!PinnedDigest(item.kind).empty()) Host().AppendLogLine(TimeText() + PinnedRowLogText(item.kind));
  }
  StartBatchItem();
}

void StartBatchItem() {
  TransferContext& t = g_transfer;
  if (t.batchQueue.empty()) {
    ReportFailure();  // nothing to start: the transfer must not stay busy
    return;
  }
  const std::uint8_t kind = t.batchQueue.front().kind;
  const std::string& path = t.batchQueue.front().path;

  if (!LoadItem(kind, path)) return;
  if (const auto* key = BatchKey(kind)) Scramble(t.fileBuffer, t.fileLength, *key);

  t.blockIndex = 0;
  t.blockCount = ItemBlockCount(kind, t.fileLength);
  if (kind == kKindRcdb || kind == kKindFv || kind == kKindTdb) t.pollCount = 0;
  SetProgressRange();

  t.itemKind = kind;
  if (kind != kKindHost) t.itemCommand = BatchCommand(kind);
  if (kind == kKindBoot) t.targetId = 3;
  if (kind == kKindHost) t.targetId = 2;

  if (t.batchBegun == 0) {
    SendBegin(t.altCodeSet != 0, t.targetId);
    Host().SetTimer(kTimerBegin, kTimerPeriodMs);
    t.batchBegun = 1;
  } else {
    SendFirstFrame(kind);
  }
}
