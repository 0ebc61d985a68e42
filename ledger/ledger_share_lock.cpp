#include "ledger/ledger_share_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

LedgerShareLock::~LedgerShareLock() { Release(); }

void LedgerShareLock::Release() {
  if (fd_ >= 0) close(fd_);  // closing the descriptor drops its lock
  fd_ = -1;
}

bool LedgerShareLock::TakeShared(const std::string& path) { return Take(path, LOCK_SH); }

bool LedgerShareLock::TakeExclusive(const std::string& path) { return Take(path, LOCK_EX | LOCK_NB); }

bool LedgerShareLock::Take(const std::string& path, int operation) {
  Release();
  // A file moved aside while this one waited for its lock is not the ledger
  // at path any more: the lock is taken again on the file there now.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int locked = -1;
    while ((locked = flock(fd, operation)) != 0 && errno == EINTR) {
    }
    struct stat held {}, there {};
    if (locked == 0 && fstat(fd, &held) == 0 && stat(path.c_str(), &there) == 0 &&
        held.st_dev == there.st_dev && held.st_ino == there.st_ino) {
      fd_ = fd;
      return true;
    }
    close(fd);
    if (locked != 0) return false;
  }
  return false;
}
