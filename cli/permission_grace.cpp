#include "cli/permission_grace.h"

#include "cli/stop_signals.h"
#include "link/operator_messages.h"
#include "link/usb_link.h"

namespace {

constexpr auto kRetryPeriod = std::chrono::milliseconds(150);

// The boxes of a try that is repeated are not the operator's business.
class QuietMessages final : public OperatorMessages {
 public:
  void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
  void ShowPermissionHint(const std::string&) override {}
};

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
    if ((signal = WaitForStopSignal(kRetryPeriod)) != 0) break;
  }
  SetOperatorMessages(nullptr);
  return signal;
}
