#include "recipes/image_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/sha256.h"
#include "record/transfer_context.h"

namespace {

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool MakeFolders(const std::string& folder, std::string& error) {
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  if (!failed) return true;
  error = "cannot make the image cache " + folder + ": " + failed.message();
  return false;
}

// A real folder at path, made when missing: never a link someone planted.
bool RealFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "cannot make " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error = path + " is not a folder of the image cache (a link, or another kind of file)";
    return false;
  }
  return true;
}

bool IsRealFolder(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Writes all of text to fd; the system's reason when it cannot.
bool WriteAll(int fd, const char* data, std::size_t size, int& failure) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t now = write(fd, data + done, size - done);
    if (now < 0 && errno == EINTR) continue;
    if (now <= 0) {
      failure = now < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(now);
  }
  return true;
}

// On the disk and closed, when all was written: the system's reason when not.
bool FlushAndClose(int fd, bool written, int& failure) {
  if (written && fsync(fd) != 0) {
    written = false;
    failure = errno;
  }
  if (close(fd) != 0 && written) {
    written = false;
    failure = errno;
  }
  return written;
}

// A temporary file of a fetch or write whose writer is gone: its lock is free.
void RemoveIfAbandoned(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink(path.c_str());
  close(fd);
}

void RemoveAbandonedIn(const std::string& folder, const std::string& marker) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.find(marker) != std::string::npos) RemoveIfAbandoned(folder + "/" + name);
  }
  closedir(dir);
}

}  // namespace

std::string VersionRowsText(const RecipeVersion& recipe) {
  // One line per row: ITEM 1 SHA256 BYTES FILE-NAME, or ITEM 0 for a row not enabled.
  std::string text;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    text += KindName(kind);
    if (row.enabled) {
      std::string fileName = row.fileName;
      for (char& c : fileName) c = c == '\n' || c == '\r' ? '?' : c;
      text += " 1 " + row.sha256 + " " + std::to_string(row.bytes) + " " + fileName;
    } else {
      text += " 0";
    }
    text += "\n";
  }
  return text;
}

std::string VersionRowsDigest(const RecipeVersion& recipe) {
  const std::string text = VersionRowsText(recipe);
  Sha256 digest;
  digest.Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return HexDigest(digest.Finish());
}

std::string DefaultImageCacheFolder() {
  // systemd names the service's cache folder(s), ':' between several.
  if (const std::string service = Environment("CACHE_DIRECTORY"); !service.empty()) {
    return service.substr(0, service.find(':'));
  }
  if (const std::string cache = Environment("XDG_CACHE_HOME"); !cache.empty()) {
    return cache + "/tamsolt/images";
  }
  return Environment("HOME") + "/.cache/tamsolt/images";
}

bool ImageCache::Holds(const std::string& sha256, std::uint64_t bytes) {
  if (!IsSha256Hex(sha256)) return false;  // a file name here, so never a path
  struct stat status {};
  if (stat(ImagePath(sha256).c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) != bytes) {
    matched_.erase(sha256);
    return false;
  }
  const Seen now{status.st_ino, status.st_size, Nanoseconds(status.st_mtim), Nanoseconds(status.st_ctim)};
  if (const auto found = matched_.find(sha256); found != matched_.end() && found->second == now) return true;
  if (Sha256OfFile(ImagePath(sha256)) != sha256) {
    matched_.erase(sha256);
    return false;
  }
  matched_[sha256] = now;
  return true;
}

bool ImageCache::Store(const std::string& sha256, const Filler& fill, std::string& error) {
  if (!IsSha256Hex(sha256)) {
    error = "\"" + sha256 + "\" is not a SHA-256";
    return false;
  }
  if (!MakeFolders(folder_, error)) return false;
  // A name of its own (stations sharing the folder, each in its own pid
  // namespace, never write into each other's file), readable as the images are.
  std::string temporary = folder_ + "/.fetching-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd >= 0) fchmod(fd, 0644);
  if (fd < 0) {
    error = "cannot write into the image cache " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  // Held while it fills: a later take removes a temporary whose lock is free.
  flock(fd, LOCK_EX);
  Sha256 digest;
  bool written = true;
  int failure = 0;
  const bool filled = fill(
      [&](const char* data, std::size_t size) {
        digest.Update(reinterpret_cast<const std::uint8_t*>(data), size);
        written = written && WriteAll(fd, data, size, failure);
        return written;
      },
      error);
  written = FlushAndClose(fd, written, failure);
  if (filled && written && HexDigest(digest.Finish()) != sha256) {
    error = "the stored image " + sha256.substr(0, 12) +
            " in the line database is damaged (its bytes have another SHA-256)";
  } else if (filled && written && rename(temporary.c_str(), ImagePath(sha256).c_str()) == 0) {
    matched_.erase(sha256);
    return true;
  } else if (filled && written) {
    error = "cannot write it into the image cache " + folder_ + ": " + std::strerror(errno);
  } else if (!written) {
    error = "cannot write it into the image cache " + folder_ + ": " + std::strerror(failure);
  }
  unlink(temporary.c_str());
  return false;
}

std::string ImageCache::VersionPath(const std::string& name, const std::string& leaf) const {
  return folder_ + "/recipes/" + name + "/" + leaf;
}

bool ImageCache::MakeVersionFolder(const std::string& name, std::string& error) const {
  return MakeFolders(folder_, error) && RealFolder(folder_ + "/recipes", error) &&
         RealFolder(folder_ + "/recipes/" + name, error);
}

bool ImageCache::WriteWhole(const std::string& path, const std::string& text, std::string& error) const {
  // A name no other process has, whatever its pid namespace; locked while written.
  std::string temporary = path + ".new-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  fchmod(fd, 0644);
  flock(fd, LOCK_EX);
  int failure = 0;
  const bool written = FlushAndClose(fd, WriteAll(fd, text.data(), text.size(), failure), failure);
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(written ? errno : failure);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool ImageCache::SaveVersion(const RecipeVersion& recipe, std::string& error) {
  if (!IsRecipeName(recipe.name) || !MakeVersionFolder(recipe.name, error)) {
    if (error.empty()) error = "\"" + recipe.name + "\" is not a recipe name";
    return false;
  }
  return WriteWhole(VersionPath(recipe.name, std::to_string(recipe.version)), VersionRowsText(recipe), error);
}

std::optional<RecipeVersion> ImageCache::LoadVersion(const std::string& name, int version,
                                                     const std::string& digest, std::string& error) const {
  if (!IsRecipeName(name) || version <= 0) return std::nullopt;
  const std::string path = VersionPath(name, std::to_string(version));
  const std::string label = RecipeLabel(name, version);
  if (!IsRealFolder(folder_ + "/recipes") || !IsRealFolder(folder_ + "/recipes/" + name)) {
    error = "the image cache's folder of " + name + " is missing or not a folder of its own";
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = label + " is not in the image cache " + folder_;
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  RecipeVersion recipe;
  recipe.name = name;
  recipe.version = version;
  std::istringstream in(text);
  std::string line;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    error = "the image cache's rows of " + label + " (" + path + ") cannot be read";
    if (!std::getline(in, line)) return std::nullopt;
    std::istringstream fields(line);
    std::string item;
    int enabled = -1;
    fields >> item >> enabled;
    if (item != KindName(kind) || (enabled != 0 && enabled != 1)) return std::nullopt;
    RecipeRow& row = recipe.rows[kind];
    row.enabled = enabled == 1;
    if (!row.enabled) continue;
    fields >> row.sha256 >> row.bytes;
    fields.get();  // the space before the name
    std::getline(fields, row.fileName);
    if (!fields.eof() && fields.fail()) return std::nullopt;
    if (!IsSha256Hex(row.sha256)) return std::nullopt;
  }
  error.clear();
  if (!digest.empty() && VersionRowsDigest(recipe) != digest) {
    error = "the image cache's rows of " + label + " (" + path +
            ") are not those the station took: they were changed on disk";
    return std::nullopt;
  }
  return recipe;
}

bool ImageCache::SetLastWhole(const RecipeVersion& recipe, std::string& error) {
  return MakeVersionFolder(recipe.name, error) &&
         WriteWhole(VersionPath(recipe.name, "active"),
                    std::to_string(recipe.version) + " " + VersionRowsDigest(recipe) + "\n", error);
}

std::optional<ImageCache::Whole> ImageCache::LastWhole(const std::string& name) const {
  if (!IsRecipeName(name) || !IsRealFolder(folder_ + "/recipes") ||
      !IsRealFolder(folder_ + "/recipes/" + name)) {
    return std::nullopt;
  }
  const int fd = open(VersionPath(name, "active").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[128] = {};
  const ssize_t got = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (got <= 0) return std::nullopt;
  std::istringstream in(std::string(buffer, static_cast<std::size_t>(got)));
  Whole whole;
  if (!(in >> whole.version) || whole.version <= 0) return std::nullopt;
  in >> whole.digest;  // none in a cache of an earlier version of the program
  if (!whole.digest.empty() && !IsSha256Hex(whole.digest)) return std::nullopt;
  return whole;
}

void ImageCache::RemoveLeftovers() const {
  RemoveAbandonedIn(folder_, ".fetching-");
  DIR* recipes = opendir((folder_ + "/recipes").c_str());
  if (recipes == nullptr) return;
  while (const dirent* entry = readdir(recipes)) {
    const std::string name = entry->d_name;
    if (IsRecipeName(name) && IsRealFolder(folder_ + "/recipes/" + name)) {
      RemoveAbandonedIn(folder_ + "/recipes/" + name, ".new-");
    }
  }
  closedir(recipes);
}

std::optional<std::uint8_t> ImageCache::FirstRowNotHeld(const RecipeVersion& recipe) {
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    if (row.enabled && !Holds(row.sha256, row.bytes)) return kind;
  }
  return std::nullopt;
}
