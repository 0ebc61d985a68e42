// A thread of one emulated device that answers its ioctls. umockdev hands
// every node's ioctls to one worker thread, and answering one means reading
// and writing the program's memory over its socket, waiting for the program
// each time; served there, the devices of a station would wait for each other.
// The worker only queues each request here, and the device's own thread
// answers it (umockdev_ioctl_client_complete may be called from any thread),
// so each board answers for itself, as on a real hub.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace sim {

class ServingThread {
 public:
  // serve(client, context) answers one request and completes it.
  using Serve = std::function<void(UMockdevIoctlClient*, void*)>;

  explicit ServingThread(Serve serve);
  // Answers what is still queued, then stops. Not on the thread itself.
  ~ServingThread();
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  // Queues a request; the thread holds its own reference to client until answered.
  void Post(UMockdevIoctlClient* client, void* context);

 private:
  struct Request {
    UMockdevIoctlClient* client;
    void* context;
  };
  void Run();

  Serve serve_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the rest is in place
};

}  // namespace sim
