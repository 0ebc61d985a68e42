#include "settings/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now so a failing close (a full disk on some file systems) is seen.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Writes bytes from the start of the file, over what it holds.
bool WriteAll(int fd, std::string_view bytes) {
  off_t offset = 0;
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += written;
  }
  return true;
}

// The file a write must replace: the target of a symbolic link, else path itself.
std::string ResolveTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file in the same folder, opened exclusively; mode 0666 less the umask.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void SyncFolder(const std::string& folder) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

// A file without any write permission bit is read-only even for root, whom
// the access check lets through.
bool IsWritableFile(const std::string& path, const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 &&
         ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool WriteInPlace(const std::string& target, std::string_view bytes, off_t oldSize) {
  // Read access too, so that the space reservation works where the file
  // system leaves it to the C library.
  UniqueFd file(::open(target.c_str(), O_RDWR | O_CLOEXEC));
  if (!file.valid()) return false;
  const auto newSize = static_cast<off_t>(bytes.size());
  // The room a longer file needs is reserved first: a full disk then fails
  // the write before any old byte is overwritten.
  if (newSize > oldSize && ::posix_fallocate(file.get(), oldSize, newSize - oldSize) != 0) {
    return false;
  }
  bool ok = WriteAll(file.get(), bytes) && ::ftruncate(file.get(), newSize) == 0 &&
            ::fsync(file.get()) == 0;
  return file.Close() && ok;
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    return errno == ENOENT || errno == ENOTDIR ? FileReadResult::Missing : FileReadResult::Failed;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got == 0) return FileReadResult::Read;
    if (got < 0) {
      if (errno == EINTR) continue;
      out.clear();
      return FileReadResult::Failed;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
}

bool WriteFileSafely(const std::string& path, std::string_view bytes) {
  const std::string target = ResolveTarget(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !IsWritableFile(target, existing)) return false;

  std::string tempPath;
  UniqueFd temp(CreateTemporaryBeside(target, tempPath));
  if (!temp.valid()) return exists && WriteInPlace(target, bytes, existing.st_size);
  // The new file takes the old one's permissions and owner; where the owner
  // cannot be given (an ordinary user writing a file of another account), the
  // old file is rewritten instead, so that it stays writable for that account.
  if (exists && (::fchmod(temp.get(), existing.st_mode & 07777) != 0 ||
                 ::fchown(temp.get(), existing.st_uid, existing.st_gid) != 0)) {
    temp.Close();
    ::unlink(tempPath.c_str());
    return WriteInPlace(target, bytes, existing.st_size);
  }
  bool ok = WriteAll(temp.get(), bytes) && ::fsync(temp.get()) == 0;
  ok = temp.Close() && ok;
  ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tempPath.c_str());
    return false;
  }
  SyncFolder(FolderOf(target));
  return true;
}
