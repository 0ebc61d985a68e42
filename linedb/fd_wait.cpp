#include "linedb/fd_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

DescriptorWait WaitForDescriptor(int fd, short events, int stopFd, SteadyTime deadline) {
  for (;;) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int timeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
    // A negative fd is skipped by poll: no stop descriptor, or no socket (then only the deadline).
    const int ready = poll(fds, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (fds[0].revents != 0) return DescriptorWait::kStopped;
    if (ready > 0 && fds[1].revents != 0) return DescriptorWait::kReady;
    if (ready < 0) return DescriptorWait::kReady;  // the caller's next call reports the socket's error
    if (timeout == 0) return DescriptorWait::kTimedOut;
  }
}

Flag::Flag() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Flag::~Flag() {
  if (fd_ >= 0) close(fd_);
}

void Flag::Set() {
  const std::uint64_t one = 1;
  if (fd_ >= 0) (void)!write(fd_, &one, sizeof one);
}

bool Flag::IsSet() const {
  pollfd fd{fd_, POLLIN, 0};
  return fd_ >= 0 && poll(&fd, 1, 0) == 1;
}
