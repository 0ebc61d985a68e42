#include "sim/umockdev_urbs.h"

#include <algorithm>
#include <cerrno>

namespace sim {

int UrbQueue::SubmitOut(DeviceModel* model, bool present, std::uint64_t address,
                        std::uint8_t endpoint, const std::uint8_t* frame, std::size_t length,
                        Micros now) {
  if (endpoint != kCommandEndpoint) return -ENOENT;
  if (!present) return -ENODEV;
  if (model != nullptr && !model->ReceiveFrame(frame, length, now)) return -ENODEV;
  ReapedUrb done;
  done.clientAddress = address;
  done.endpoint = endpoint;
  done.actualLength = static_cast<int>(length);
  completed_.push_back(done);
  return 0;
}

int UrbQueue::SubmitIn(bool present, std::uint64_t address, std::uint8_t endpoint,
                       int bufferLength) {
  if (endpoint != kReportEndpoint) return -ENOENT;
  if (bufferLength < 0) return -EINVAL;
  if (!present) return -ENODEV;
  pending_.push_back({address, endpoint, bufferLength});
  return 0;
}

int UrbQueue::Discard(std::uint64_t address) {
  auto found = std::find_if(pending_.begin(), pending_.end(),
                            [address](const PendingIn& urb) { return urb.address == address; });
  if (found == pending_.end()) return -EINVAL;  // already completed: nothing to unlink
  ReapedUrb killed;
  killed.clientAddress = found->address;
  killed.endpoint = found->endpoint;
  killed.status = -ENOENT;  // what a killed URB carries
  completed_.push_back(killed);
  pending_.erase(found);
  return 0;
}

void UrbQueue::CompleteReadyReports(DeviceModel* model, bool present, Micros now) {
  if (pending_.empty()) return;
  if (!present) {
    // The device left the bus: the host controller flushes what was queued.
    for (const PendingIn& urb : pending_) {
      ReapedUrb flushed;
      flushed.clientAddress = urb.address;
      flushed.endpoint = urb.endpoint;
      flushed.status = -ESHUTDOWN;
      completed_.push_back(flushed);
    }
    pending_.clear();
    return;
  }
  std::uint8_t report[kReportSize];
  if (model == nullptr || !model->TakeReport(now, report)) return;
  const PendingIn urb = pending_.front();
  pending_.erase(pending_.begin());
  ReapedUrb done;
  done.clientAddress = urb.address;
  done.endpoint = urb.endpoint;
  if (urb.bufferLength < kReportSize) {
    // The report does not fit: usbfs keeps what fits and flags the overflow.
    done.status = -EOVERFLOW;
    done.actualLength = urb.bufferLength;
  } else {
    done.actualLength = kReportSize;
  }
  std::copy(report, report + done.actualLength, done.data.begin());
  completed_.push_back(done);
}

bool UrbQueue::Completed(DeviceModel* model, bool present, Micros now) {
  CompleteReadyReports(model, present, now);
  return !completed_.empty();
}

int UrbQueue::Reap(DeviceModel* model, bool present, Micros now, ReapedUrb& reaped) {
  CompleteReadyReports(model, present, now);
  if (completed_.empty()) return present ? -EAGAIN : -ENODEV;
  reaped = completed_.front();
  completed_.pop_front();
  return 0;
}

}  // namespace sim
