#include "cli/permission_grace.h"

#include <unistd.h>

#include <cerrno>

#include "link/device_choice.h"
#include "link/operator_messages.h"
#include "link/usb_link.h"
#include "record/transfer_context.h"
#include "run/stop_signals.h"

namespace {

constexpr auto kRetryPeriod = std::chrono::milliseconds(150);

// The boxes of a try that is repeated are not the operator's business.
class QuietMessages final : public OperatorMessages {
 public:
  void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
  void ShowPermissionHint(const std::string&) override {}
};

// True while this user may still not write the node of the device found last;
// false once it may, or once the node is gone (a new scan tells where it went).
bool FoundNodeStillRefusesWriting() {
  if (g_transfer.foundDevice == nullptr) return false;
  const DeviceAddress address = AddressOf(*g_transfer.foundDevice);
  const std::string node = "/dev/bus/usb/" + address.bus + "/" + address.device;
  return ::access(node.c_str(), W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

}  // namespace

int OpenWithPermissionGrace(std::chrono::steady_clock::time_point graceEnd,
                            const std::function<void(const std::string&)>& say) {
  QuietMessages quiet;
  SetOperatorMessages(&quiet);
  bool told = false;
  int signal = 0;
  while (FindDevice() && !OpenDevice() && LastOpenRefusedForPermission() &&
         std::chrono::steady_clock::now() < graceEnd) {
    if (!told) say("Waiting for permission on the device node (udev grants it a moment after it appears)");
    told = true;
    // Scanned and opened again only once udev's grant can have changed the
    // answer: while the node's mode still refuses, another open would be
    // refused the same way. (The kernel keeps nothing of a refused open, but
    // umockdev's preload library keeps a socket and a table entry for each.)
    do {
      signal = WaitForStopSignal(kRetryPeriod);
    } while (signal == 0 && FoundNodeStillRefusesWriting() &&
             std::chrono::steady_clock::now() < graceEnd);
    if (signal != 0) break;
  }
  SetOperatorMessages(nullptr);
  return signal;
}
