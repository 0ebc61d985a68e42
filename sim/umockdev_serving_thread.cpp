#include "sim/umockdev_serving_thread.h"

#include <umockdev.h>

namespace sim {

ServingThread::ServingThread(Serve serve) : serve_(std::move(serve)), thread_([this] { Run(); }) {}

ServingThread::~ServingThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void ServingThread::Post(UMockdevIoctlClient* client, void* context) {
  g_object_ref(client);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({client, context});
  }
  wake_.notify_one();
}

void ServingThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to answer
    const Request request = queue_.front();
    queue_.pop_front();
    lock.unlock();
    serve_(request.client, request.context);
    g_object_unref(request.client);
    lock.lock();
  }
}

}  // namespace sim
