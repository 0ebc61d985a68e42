#include "sim/device_model.h"

#include <algorithm>
#include <array>
#include <deque>
#include <utility>

#include "sim/device_wire.h"
#include "sim/received_images.h"

namespace sim {
namespace {

constexpr int kConfigurationValue = 1;
constexpr int kInterfaceNumber = 0;
constexpr std::uint8_t kStatusReady = 4;
constexpr std::uint8_t kStatusRestart = 3;
constexpr std::size_t kReportsHeld = 8;  // the endpoint's queue; older reports are lost

constexpr std::uint16_t kConnect = 0x06;
constexpr std::uint16_t kDatabasePrepare = 0x14;
constexpr std::uint16_t kChunk = 0x42, kChunkAlt = 0x48;
constexpr std::uint16_t kBegin = 0x43, kBeginAlt = 0x49;
constexpr std::uint16_t kEnd = 0x44, kEndAlt = 0x4A;
constexpr std::uint16_t kTestData = 0x63;
constexpr std::uint16_t kReplyBase = 0x8000;

constexpr std::size_t kDataBlockBytes = 2048;
constexpr std::size_t kDataBlockPayload = 8 + kDataBlockBytes;
constexpr std::size_t kShortBlockBytes = 53;
constexpr std::size_t kChunkHeader = 9;
constexpr std::uint8_t kTestDataChunkSize = 53;

// Image that a data or short block of this code belongs to; null for other codes.
const char* DataImageName(std::uint16_t code) {
  switch (code) {
    case 0x11: return "rcdb";
    case 0x12: return "font";
    case 0x19: return "fv";
    case 0x1A: return "bmp";
    case 0x22: return "lang";
    case 0x23: return "pic";
    default: return nullptr;
  }
}

const char* ChunkImageName(std::uint8_t target) {
  switch (target) {
    case 3: return "boot";
    case 2: return "host";
    default: return nullptr;
  }
}

struct QueuedReport {
  Micros readyAt = 0;
  std::array<std::uint8_t, kReportBytes> bytes{};
  Micros restartsFor = -1;      // once read, the device leaves to restart, this long (-1: stays)
  bool unplugsDevice = false;   // once read, the device leaves for good
};

// What the device answers to one accepted frame.
struct Answer {
  std::uint16_t echo = 0;
  std::uint8_t status = 0;
  bool restarts = false;
  bool endsExchange = false;
};

}  // namespace

struct DeviceModel::Impl {
  Faults faults;
  std::string outputDir;
  ReceivedImages images;
  Summary summary;
  std::string lastRejection;

  DeviceModel::HandleId interfaceHolder = 0;  // 0: interface 0 is free
  ClaimEnd claimEnd = ClaimEnd::NeverClaimed;
  bool unplugged = false;
  bool restarting = false;
  Micros backAt = 0;
  bool beginAnswered = false;

  std::deque<QueuedReport> reports;
  std::vector<std::uint8_t> previousFrame;
  std::array<std::uint8_t, kLargestFrame> scratch{};
  bool haveLastCode = false;
  std::uint16_t lastCode = 0;
  std::uint16_t earlierCode = 0;  // the last accepted code different from lastCode

  bool AwayAt(Micros now) const {
    if (faults.absent || unplugged) return true;
    if (faults.leaveAt >= 0 && now >= faults.leaveAt) return true;
    return restarting && (faults.neverBack || now < backAt);
  }

  bool Reject(std::string reason) {
    ++summary.rejectedFrames;
    lastRejection = std::move(reason);
    return false;
  }

  bool Store(const char* name, std::size_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (images.Place(name, offset, bytes, n)) return true;
    return Reject("data past the largest image");
  }

  bool HandleDataCode(const WireFrame& frame, const char* name) {
    if (frame.payloadLength == kDataBlockPayload) {
      if (!frame.scrambled) return Reject("data block not scrambled");
      const std::uint16_t index = ReadBig16(frame.payload);
      const std::uint32_t length = ReadBig32(frame.payload + 2);
      if (index != frame.index || ReadBig16(frame.payload + 6) != kDataBlockBytes ||
          frame.total != 0 || frame.chunkSize != 0) {
        return Reject("data block header");
      }
      if (!Store(name, std::size_t{index} * kDataBlockBytes, frame.payload + 8, kDataBlockBytes)) {
        return false;
      }
      images.StateLength(name, length);
      return true;
    }
    if (frame.scrambled) return Reject("scrambled frame that is no data block");
    if (frame.payloadLength != kShortBlockBytes || frame.chunkSize != 0) {
      return Reject("short block length");
    }
    return Store(name, std::size_t{frame.index} * kShortBlockBytes, frame.payload,
                 kShortBlockBytes);
  }

  bool HandleChunk(const WireFrame& frame) {
    if (frame.payloadLength < kChunkHeader) return Reject("chunk header");
    const std::uint8_t* p = frame.payload;
    const char* name = ChunkImageName(p[0]);
    const std::uint16_t index = ReadBig16(p + 1);
    const std::uint32_t length = ReadBig32(p + 3);
    const std::uint16_t size = ReadBig16(p + 7);
    const std::uint32_t count = size == 0 ? 0 : (length + size - 1) / size;
    if (name == nullptr || index != frame.index || frame.payloadLength != kChunkHeader + size ||
        frame.total != static_cast<std::uint16_t>(count) || frame.chunkSize != 0) {
      return Reject("chunk header");
    }
    if (size == 0) return true;
    if (!Store(name, std::size_t{index} * size, p + kChunkHeader, size)) return false;
    images.StateLength(name, length);
    return true;
  }

  bool HandleTestData(const WireFrame& frame) {
    if (frame.chunkSize == kTestDataChunkSize) {
      if (frame.payloadLength != kTestDataChunkSize) return Reject("test-data chunk length");
      if (!Store("tdb", std::size_t{frame.index} * kTestDataChunkSize, frame.payload,
                 kTestDataChunkSize)) {
        return false;
      }
    } else {
      const std::size_t head = std::min<std::size_t>(frame.total, kTestDataChunkSize);
      if (frame.chunkSize != 0 || frame.index != 0 || frame.payloadLength != head) {
        return Reject("test-data head");
      }
      if (!Store("tdb", 0, frame.payload, head)) return false;
    }
    images.StateLength("tdb", frame.total);
    return true;
  }

  bool HandleBegin(const WireFrame& frame, Answer& answer) {
    if (frame.payloadLength != 3 || frame.payload[0] != 0x01 || frame.payload[2] != 0xFF ||
        frame.total != 3) {
      return Reject("begin payload");
    }
    answer.status = beginAnswered ? kStatusReady : static_cast<std::uint8_t>(faults.beginStatus);
    answer.restarts = answer.status == kStatusRestart && !beginAnswered;
    beginAnswered = true;
    return true;
  }

  bool HandleEnd(const WireFrame& frame, Answer& answer) {
    if (frame.payloadLength != 0) return Reject("end with a payload");
    answer.endsExchange = true;
    return true;
  }

  // Stored after the end command itself is counted, so the summary includes it.
  void EndExchange() {
    ++summary.exchangesEnded;
    if (!outputDir.empty()) WriteReceivedImages(outputDir, images, summary);
    images.EndExchange();
  }

  // Applies the frame to the device; false when the device drops it.
  bool Handle(const WireFrame& frame, Answer& answer) {
    answer.echo = frame.index;
    if (frame.spare != 0) return Reject("spare field set");
    if (frame.scrambled && DataImageName(frame.code) == nullptr) {
      return Reject("scrambled frame that is no data block");
    }
    if (const char* name = DataImageName(frame.code)) return HandleDataCode(frame, name);
    switch (frame.code) {
      case kChunk:
      case kChunkAlt:
        return HandleChunk(frame);
      case kTestData:
        return HandleTestData(frame);
      case kBegin:
      case kBeginAlt:
        return HandleBegin(frame, answer);
      case kEnd:
      case kEndAlt:
        return HandleEnd(frame, answer);
      case kConnect:
      case kDatabasePrepare:
        if (frame.payloadLength != 0) return Reject("payload on an empty command");
        return true;
      default:
        return Reject("not a command");
    }
  }

  void NoteAccepted(std::uint16_t code) {
    ++summary.commandsSeen[code];
    if (haveLastCode && code != lastCode) earlierCode = lastCode;
    lastCode = code;
    haveLastCode = true;
  }

  bool InWindow(int frameNumber, int from, int count) const {
    return from >= 0 && frameNumber >= from && frameNumber < from + count;
  }

  void Queue(const WireFrame& frame, const Answer& answer, int frameNumber, Micros now,
             bool lastBeforeUnplug) {
    if (InWindow(frameNumber, faults.silentFromFrame, faults.silentReplies)) {
      if (lastBeforeUnplug) LeaveForGood();
      return;
    }
    std::uint16_t code = static_cast<std::uint16_t>(kReplyBase + frame.code);
    if (frameNumber == faults.staleCodeAtFrame) code = static_cast<std::uint16_t>(kReplyBase + earlierCode);
    std::uint16_t echo = answer.echo;
    if (frameNumber == faults.wrongEchoAtFrame) echo = static_cast<std::uint16_t>(echo + 1);
    QueuedReport report;
    report.readyAt = now + faults.replyLatency;
    if (answer.restarts) report.restartsFor = faults.restartAbsentFor;
    if (answer.endsExchange && faults.rebootAfterEnd >= 0) report.restartsFor = faults.rebootAfterEnd;
    report.unplugsDevice = lastBeforeUnplug;
    BuildReport(code, echo, answer.status, report.bytes.data());
    if (frameNumber == faults.damagedAtFrame) report.bytes[kReportBytes - 1] ^= 0x5A;
    if (reports.size() == kReportsHeld) reports.pop_front();
    reports.push_back(report);
  }

  // The kernel drops the claims on a device that leaves the bus.
  void DropClaim() {
    if (interfaceHolder != 0) claimEnd = ClaimEnd::LeftTheBus;
    interfaceHolder = 0;
  }

  void LeaveForGood() {
    unplugged = true;
    DropClaim();
    reports.clear();
  }

  void Restart(Micros now, Micros awayFor) {
    restarting = true;
    backAt = now + awayFor;
    // A handle kept from before claims anew (a URB claims its interface).
    DropClaim();
    ++summary.restarts;
    reports.clear();
    images.Forget();
  }
};

DeviceModel::DeviceModel(Faults faults, std::string outputDir) : impl_(std::make_unique<Impl>()) {
  impl_->faults = faults;
  impl_->outputDir = std::move(outputDir);
  impl_->unplugged = faults.unplugAfterFrames == 0;
  impl_->previousFrame.reserve(kLargestFrame);
}

DeviceModel::~DeviceModel() = default;
DeviceModel::DeviceModel(DeviceModel&&) noexcept = default;
DeviceModel& DeviceModel::operator=(DeviceModel&&) noexcept = default;

int DeviceModel::ListedDevices(Micros now) const {
  if (impl_->AwayAt(now)) return 0;
  return impl_->faults.twoDevices ? 2 : 1;
}

bool DeviceModel::Open(Micros now) { return Present(now) && !impl_->faults.openFails; }

bool DeviceModel::SetConfiguration(int value) {
  return !impl_->faults.setConfigFails && value == kConfigurationValue;
}

bool DeviceModel::InterfaceFreeFor(HandleId handle) const {
  return impl_->interfaceHolder == 0 || impl_->interfaceHolder == handle;
}

bool DeviceModel::ClaimInterface(int number, HandleId handle) {
  if (impl_->faults.claimFails || number != kInterfaceNumber || !InterfaceFreeFor(handle)) {
    return false;
  }
  impl_->interfaceHolder = handle;
  impl_->claimEnd = ClaimEnd::Held;
  return true;
}

bool DeviceModel::ReleaseInterface(int number, HandleId handle) {
  if (number != kInterfaceNumber || impl_->interfaceHolder != handle || handle == 0) return false;
  impl_->interfaceHolder = 0;
  impl_->claimEnd = ClaimEnd::Released;
  return true;
}

void DeviceModel::Close(HandleId handle) {
  if (handle == 0 || impl_->interfaceHolder != handle) return;
  impl_->interfaceHolder = 0;
  impl_->claimEnd = ClaimEnd::Closed;
}

ClaimEnd DeviceModel::LatestClaimEnd() const { return impl_->claimEnd; }

void DeviceModel::Unplug() { impl_->LeaveForGood(); }

bool DeviceModel::GoneForGood(Micros now) const {
  const Impl& d = *impl_;
  return d.faults.absent || d.unplugged || (d.faults.leaveAt >= 0 && now >= d.faults.leaveAt) ||
         (d.restarting && d.faults.neverBack);
}

bool DeviceModel::ReceiveFrame(const std::uint8_t* data, std::size_t length, Micros now) {
  Impl& d = *impl_;
  if (d.AwayAt(now)) return false;
  if (d.restarting) d.restarting = false;  // back on the bus

  const int frameNumber = d.summary.frames++;
  const bool lastBeforeUnplug =
      d.faults.unplugAfterFrames > 0 && d.summary.frames == d.faults.unplugAfterFrames;
  if (data != nullptr && d.previousFrame.size() == length &&
      std::equal(data, data + length, d.previousFrame.begin())) {
    ++d.summary.retries;
  }
  d.previousFrame.assign(data, data + (data != nullptr && length <= kLargestFrame ? length : 0));

  WireFrame frame;
  std::string reason;
  Answer answer;
  if (!ParseWireFrame(data, length, d.scratch.data(), frame, reason)) {
    d.Reject(std::move(reason));
  } else if (d.Handle(frame, answer)) {
    d.NoteAccepted(frame.code);
    if (answer.endsExchange) d.EndExchange();
    d.Queue(frame, answer, frameNumber, now, lastBeforeUnplug);
    return true;
  }
  if (lastBeforeUnplug) d.LeaveForGood();
  return true;
}

std::optional<Micros> DeviceModel::NextReportTime() const {
  if (impl_->reports.empty()) return std::nullopt;
  return impl_->reports.front().readyAt;
}

bool DeviceModel::TakeReport(Micros now, std::uint8_t* out) {
  Impl& d = *impl_;
  if (d.AwayAt(now) || d.reports.empty() || d.reports.front().readyAt > now) return false;
  const QueuedReport report = d.reports.front();
  d.reports.pop_front();
  std::copy(report.bytes.begin(), report.bytes.end(), out);
  if (report.restartsFor >= 0) d.Restart(now, report.restartsFor);
  if (report.unplugsDevice) d.LeaveForGood();
  return true;
}

const std::map<std::string, std::vector<std::uint8_t>>& DeviceModel::Images() const {
  return impl_->images.Images();
}

const Summary& DeviceModel::GetSummary() const { return impl_->summary; }

const Faults& DeviceModel::GetFaults() const { return impl_->faults; }

const std::string& DeviceModel::LastRejection() const { return impl_->lastRejection; }

}  // namespace sim
