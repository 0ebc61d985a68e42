// Fuzz target: the emulated device's frame parser and handlers on any OUT
// transfers, scrambled or not. Every test trusts the device, so it must never
// read out of bounds, answer a frame it dropped, or answer with a report the
// host would not take for that frame's code.
//
// Input: one byte for the device (begin status 3, 4 or 5; clock step), then
// frames, each as a flags byte, a 2-byte big-endian length and that many
// bytes. Flags mend the frame before it is sent, so that mutations reach past
// the checks: bit 0 sets the sync, bit 1 the payload-length field, bit 2 the
// CRC, bit 3 scrambles the whole frame with the frame key as a data block is.
// With bit 4 the bytes are no frame but what one of the host's builders is
// given (builder, code, index, image length, chunk size, image); the device
// must take every such frame.
#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/packet_library.h"
#include "sim/device_model.h"
#include "sim/device_wire.h"
#include "sim/received_images.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;
using Bytes = std::vector<std::uint8_t>;

void PutBig16(std::uint8_t* at, std::size_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

Bytes MendedFrame(std::uint8_t flags, std::string_view raw) {
  Bytes frame(raw.begin(), raw.end());
  if ((flags & 1) != 0 && !frame.empty()) frame[0] = sim::kCommandSync;
  if ((flags & 2) != 0 && frame.size() >= kFrameOverhead) PutBig16(&frame[11], frame.size() - kFrameOverhead);
  if ((flags & 4) != 0 && frame.size() >= kFrameOverhead) {
    const std::size_t crcAt = frame.size() - kFrameCrcSize;
    PutBig16(&frame[crcAt], Crc16Ccitt(frame.data(), crcAt));
  }
  if ((flags & 8) != 0) Scramble(frame.data(), static_cast<std::uint32_t>(frame.size()), XorKeyA);
  return frame;
}

constexpr std::uint16_t kDataCodes[] = {0x11, 0x12, 0x19, 0x1A, 0x22, 0x23};

// A frame as the host's builders make it, from builder arguments in raw.
Bytes HostFrame(std::string_view raw) {
  fuzz::InputReader in(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
  const std::uint8_t builder = in.Byte() % 5;
  const std::uint8_t codeChoice = in.Byte();
  const auto index = static_cast<std::uint16_t>(in.Big16() % 8);
  const std::uint32_t high = in.Big16();
  const std::uint32_t imageLength = (high << 16 | in.Big16()) % (kFileBufferSize + 1);
  const auto chunkSize = static_cast<std::uint16_t>(1 + in.Big16() % kDataBlock);
  Bytes image(8 * kDataBlock);
  const std::string_view bytes = in.Rest();
  std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
  const auto testDataLength = static_cast<std::uint16_t>(imageLength % (kTestDataStageSize + 1));

  Bytes frame(kFrameBufferSize);
  std::vector<std::uint8_t> stage(kTestDataStageSize);
  const std::uint16_t code = kDataCodes[codeChoice % 6];
  std::uint16_t length = 0;
  switch (builder) {
    case 0: length = BuildDataBlockFrame(frame, code, index, image.data(), imageLength); break;
    case 1: length = BuildShortBlockFrame(frame, code, index, image.data(), imageLength); break;
    case 2:
      length = BuildChunkFrame(frame, (codeChoice & 1) != 0 ? kCmdChunkAlt : kCmdChunk,
                               (codeChoice & 2) != 0 ? 2 : 3, chunkSize, index, image.data(), imageLength);
      break;
    case 3:
      length = BuildTestDataChunkFrame(frame, std::span<std::uint8_t, kTestDataStageSize>(stage), image.data(),
                                       testDataLength, index % 20);
      break;
    default: length = BuildTestDataHeadFrame(frame, image.data(), testDataLength); break;
  }
  Require(length != 0, "the host builds the frame");
  frame.resize(length);
  return frame;
}

// The parser on its own: what it accepts is a whole frame that the host's
// packer lays out byte for byte the same.
void CheckParser(const Bytes& sent) {
  std::vector<std::uint8_t> scratch(sim::kLargestFrame);
  sim::WireFrame frame;
  std::string reason;
  if (!sim::ParseWireFrame(sent.data(), sent.size(), scratch.data(), frame, reason)) {
    Require(!reason.empty(), "a dropped frame has a reason");
    return;
  }
  Require(sent.size() == kFrameOverhead + frame.payloadLength, "accepted frame is whole");
  const std::uint8_t* base = frame.scrambled ? scratch.data() : sent.data();
  Require(frame.payload == base + kFrameHeaderSize, "payload inside the frame");
  Bytes plain(base, base + sent.size());
  Bytes repacked(sent.size());
  const ST_PACKET_PARA para{frame.total, frame.index, 0, frame.chunkSize, frame.spare};
  const std::uint16_t length = ZQ4400_RAP_COMMAND_PACK(repacked.data(), frame.code, frame.payload,
                                                       frame.payloadLength, frame.option, nullptr, para);
  Require(length == sent.size() && repacked == plain, "host packer lays out what the device parsed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint8_t setup = input.Byte();
  sim::Faults faults;
  faults.beginStatus = 3 + setup % 3;
  faults.restartAbsentFor = 50'000;
  const sim::Micros step = 1'000 * (1 + (setup >> 4));
  sim::DeviceModel device(faults, "");
  sim::Micros now = 0;

  while (input.Left() > 0) {
    const std::uint8_t flags = input.Byte();
    const std::uint16_t length = input.Big16();
    const bool hostBuilt = (flags & 16) != 0;
    const Bytes frame = hostBuilt ? HostFrame(input.Take(length)) : MendedFrame(flags, input.Take(length));
    now += step;
    CheckParser(frame);

    const sim::Summary before = device.GetSummary();
    const bool present = device.Present(now);
    // An exact-size copy, so a read past the transfer is caught.
    const Bytes sent(frame);
    const bool written = device.ReceiveFrame(sent.data(), sent.size(), now);
    const sim::Summary& after = device.GetSummary();
    Require(written == present, "a present device takes every transfer");
    if (!written) {
      Require(after.frames == before.frames, "an absent device counts nothing");
      continue;
    }
    Require(after.frames == before.frames + 1, "every transfer counted");
    const bool dropped = after.rejectedFrames == before.rejectedFrames + 1;
    Require(dropped || after.rejectedFrames == before.rejectedFrames, "at most one rejection per frame");
    Require(!dropped || !device.LastRejection().empty(), "a dropped frame has a reason");

    std::uint8_t report[sim::kReportBytes];
    const bool answered = device.TakeReport(now, report);
    Require(answered != dropped, "a frame is answered exactly when it is taken");
    Require(!hostBuilt || !dropped, "the device takes every frame the host builds");
    if (answered) {
      std::vector<std::uint8_t> scratch(sim::kLargestFrame);
      sim::WireFrame parsed;
      std::string reason;
      Require(sim::ParseWireFrame(sent.data(), sent.size(), scratch.data(), parsed, reason), "answered frame parses");
      Require(PC_RX_RAP_COMMAND_CHECK(report, static_cast<std::uint16_t>(kReplyCodeBase + parsed.code),
                                      sim::kReportBytes) != 0,
              "the host takes the answer as the reply to the frame's code");
      Require((report[5] << 8 | report[6]) == parsed.index, "the answer echoes the frame's index");
    }
    for (const auto& [name, image] : device.Images()) {
      Require(image.size() <= sim::kLargestImage, "images stay within the largest image");
    }
  }
  return 0;
}
