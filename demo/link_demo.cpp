// tamsolt-link-demo: one begin exchange with the VX742 through the device
// link, to see the link work against a device without the window:
//   tamsolt-sim-run -- tamsolt-link-demo      (the emulated device)
//   tamsolt-link-demo                         (a device on the USB bus)
// Exit code 0 when the device answers ready, 1 when it cannot be found or
// opened, 2 when it does not answer, 3 when it answers another status.
#include <cstdint>
#include <cstdio>
#include <string>

#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/operator_messages.h"
#include "link/reply_frames.h"
#include "link/usb_link.h"

namespace {

constexpr int kPolls = 10;                    // 20 ms reads each, as the engine waits
constexpr std::uint8_t kBootLoaderTarget = 3;

// The link's message boxes, as lines on standard output.
class PrintedMessages : public OperatorMessages {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::printf("message box [%s]: %s\n", title.c_str(), line.c_str());
  }
};

const char* StatusMeaning(std::uint8_t status) {
  switch (status) {
    case kBeginStatusRestart:
      return "the device restarts";
    case kBeginStatusReady:
      return "ready";
    default:
      return "refused";
  }
}

int RunBeginExchange() {
  if (!FindDevice()) return 1;
  std::printf("device found\n");
  if (!OpenDevice()) return 1;
  std::printf("device opened: configuration 1 set, interface 0 claimed\n");

  SendBegin(false, kBootLoaderTarget);
  std::printf("begin frame sent (target %u), expecting reply 0x%04X\n", kBootLoaderTarget,
              g_transfer.expectedReply);
  int exitCode = 2;
  for (int poll = 1; poll <= kPolls; ++poll) {
    const std::int32_t length = ReadReply();
    if (!CheckReply()) {
      std::printf("poll %d: no reply (read returned %d)\n", poll, length);
      continue;
    }
    const std::uint8_t status = ReplyStatus();
    std::printf("poll %d: reply 0x%04X accepted, status %u = %s\n", poll,
                g_transfer.expectedReply, status, StatusMeaning(status));
    exitCode = status == kBeginStatusReady ? 0 : 3;
    break;
  }
  if (exitCode == 2) std::printf("no reply after %d polls\n", kPolls);
  CloseDevice();
  std::printf("device closed\n");
  return exitCode;
}

}  // namespace

int main() {
  PrintedMessages messages;
  SetOperatorMessages(&messages);
  const int exitCode = RunBeginExchange();
  std::fflush(stdout);
  SetOperatorMessages(nullptr);
  return exitCode;
}
