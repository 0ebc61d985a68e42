#include "linedb/backlog_forwarder.h"

#include <utility>

BacklogForwarder::BacklogForwarder(std::string ledgerPath, std::string connectionString, Report report)
    : ledgerPath_(std::move(ledgerPath)),
      connectionString_(std::move(connectionString)),
      report_(std::move(report)),
      thread_(&BacklogForwarder::Run, this) {}

BacklogForwarder::~BacklogForwarder() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
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
    if (!requested_ || (stopping_ && !lastError_.empty())) return;
    requested_ = false;
    lock.unlock();
    const ForwardResult result = ForwardBacklog(ledgerPath_, connectionString_);
    const bool errorIsNew = !result.error.empty() && result.error != lastError_;
    lastError_ = result.error;
    if (report_) report_(result, errorIsNew);
    lock.lock();
  }
}
