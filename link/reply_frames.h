// Reply frames: one 64-byte report read from the device's interrupt endpoint
// into g_transfer.replyBuffer, its check against the reply code the last
// command armed, and the two report fields the engine reads itself.
#pragma once

#include <cstdint>

inline constexpr int kReplyEchoOffset = 5;    // block index answered, 2 bytes big-endian
inline constexpr int kReplyStatusOffset = 8;  // begin status
inline constexpr std::uint8_t kBeginStatusRestart = 3;  // the device restarts: wait, reconnect
inline constexpr std::uint8_t kBeginStatusReady = 4;

// Reads one report; stores the byte count (or the negative libusb error) in
// g_transfer.replyLength and returns it.
std::int32_t ReadReply();

// True when the report just read is the device's reply to the command last
// sent (g_transfer.expectedReply). Nothing read means no reply.
bool CheckReply();

// The block index the device echoes (bytes 5-6) and the begin status (byte 8)
// of the report in g_transfer.replyBuffer; meaningful after an accepted reply.
std::uint16_t ReplyEcho();
std::uint8_t ReplyStatus();
