#include "link/reply_frames.h"

#include <algorithm>

// Before <usb.h>: its function usb_device() hides the struct name the record uses.
#include "record/transfer_context.h"

#include <usb.h>

#include "link/packet_library.h"
#include "link/usb_link.h"

std::int32_t ReadReply() {
  g_transfer.replyLength =
      usb_interrupt_read(g_transfer.m_dev, kReplyEndpointIn,
                         reinterpret_cast<char*>(g_transfer.replyBuffer),
                         static_cast<int>(sizeof g_transfer.replyBuffer), kInterruptReadTimeoutMs);
  return g_transfer.replyLength;
}

bool CheckReply() {
  // A time-out or error is a tick without a reply; the library is not asked.
  if (g_transfer.replyLength < 1) return false;
  const auto count = static_cast<std::uint16_t>(std::min<std::int32_t>(g_transfer.replyLength, 0xFFFF));
  return PC_RX_RAP_COMMAND_CHECK(g_transfer.replyBuffer, g_transfer.expectedReply, count) != 0;
}

std::uint16_t ReplyEcho() {
  return static_cast<std::uint16_t>((g_transfer.replyBuffer[kReplyEchoOffset] << 8) |
                                    g_transfer.replyBuffer[kReplyEchoOffset + 1]);
}

std::uint8_t ReplyStatus() { return g_transfer.replyBuffer[kReplyStatusOffset]; }
