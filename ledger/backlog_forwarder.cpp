#include "ledger/backlog_forwarder.h"

#include <poll.h>

#include <utility>

BacklogForwarder::BacklogForwarder(std::string ledgerPath, std::string connectionString, Report report,
                                   int stopFd, std::chrono::milliseconds holdTime)
    : ledgerPath_(std::move(ledgerPath)),
      connectionString_(std::move(connectionString)),
      report_(std::move(report)),
      stopFd_(stopFd),
      holdTime_(holdTime),
      thread_(&BacklogForwarder::Run, this) {}

BacklogForwarder::~BacklogForwarder() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  WaitForDescriptor(finished_.Fd(), POLLIN, stopFd_, std::chrono::steady_clock::now() + holdTime_);
  cut_.Set();
  thread_.join();
}

void BacklogForwarder::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_one();
}

void BacklogForwarder::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || stopping_; });
    if (!requested_ || (stopping_ && !lastError_.empty()) || cut_.IsSet()) break;
    requested_ = false;
    lock.unlock();
    ForwardResult result = ForwardBacklog(ledgerPath_, connectionString_, {cut_.Fd()});
    if (noticeTold_) result.notice.clear();
    noticeTold_ = noticeTold_ || !result.notice.empty();
    const bool errorIsNew = !result.error.empty() && result.error != lastError_;
    lastError_ = result.error;
    if (report_) report_(result, errorIsNew);
    lock.lock();
  }
  finished_.Set();
}
