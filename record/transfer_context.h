// The record of the running transfer: everything one step of a download hands
// to the next. One static instance, zero at start, never freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

struct usb_dev_handle;
struct usb_device;

inline constexpr std::size_t kFileBufferSize = 2097152;  // largest image held
inline constexpr std::size_t kDataBlock = 2048;           // image bytes of a data block
inline constexpr std::size_t kShortBlock = 53;            // image bytes of a short block
inline constexpr std::size_t kChunk = 44;                 // image bytes of a BOOT/HOST chunk
inline constexpr std::size_t kReplySize = 64;             // interrupt reports are 64 bytes
inline constexpr std::size_t kImageHeaderSize = 128;      // BOOT/HOST header
inline constexpr std::size_t kImageTrailerSize = 2;       // BOOT/HOST trailer, never sent

// Image kinds, in the order of the rows, the batch and the message keys.
enum ImageKind : std::uint8_t {
  kKindBoot = 0,
  kKindHost = 1,
  kKindRcdb = 2,
  kKindFont = 3,
  kKindLang = 4,
  kKindFv = 5,
  kKindBmp = 6,
  kKindPic = 7,
  kKindTdb = 8,
};
inline constexpr int kKindCount = 9;

// Boot loader and host program: a 128-byte header, chunks, a begin of their own.
inline constexpr bool IsBootOrHost(std::uint8_t kind) { return kind == kKindBoot || kind == kKindHost; }

// The kind's key in sections "setup" and "PATH" of setting.ini.
const char* KindName(std::uint8_t kind);

// One queued batch row: its kind and the path field's text at the press.
struct BatchItem {
  std::uint8_t kind = 0;
  std::string path;
};

struct TransferContext {
  usb_dev_handle* m_dev;
  std::uint8_t deviceFound;
  std::uint8_t interfaceClaimed;
  std::uint8_t busy;
  std::uint8_t itemKind;
  std::uint16_t itemCommand;
  std::uint16_t expectedReply;
  std::uint8_t replyBuffer[kReplySize];
  std::int32_t replyLength;
  std::uint8_t imageHeader[kImageHeaderSize];
  std::uint8_t headerByte108;
  std::uint8_t altCodeSet;
  std::uint8_t targetId;
  std::uint8_t fileBuffer[kFileBufferSize];
  std::uint32_t fileLength;
  std::uint16_t blockIndex;
  std::uint16_t blockCount;
  std::uint16_t pollCount;
  std::uint16_t retryCount;

  // Batch download.
  std::deque<BatchItem> batchQueue;
  std::uint8_t batchBegun;
  std::uint8_t expectedImageTag;

  // Device link: the libusb device record chosen by the last scan.
  struct usb_device* foundDevice;  // "struct": <usb.h> also declares a function usb_device
};

// Static storage: zero-initialised before main, lives until the process ends.
extern TransferContext g_transfer;

// Every transfer starts with both counters at zero, and every give-up leaves
// them there, so nothing a failed transfer counted reaches the next one.
inline void ResetCounters(TransferContext& t) {
  t.pollCount = 0;
  t.retryCount = 0;
}
