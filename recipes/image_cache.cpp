#include "recipes/image_cache.h"

#include <fcntl.h>
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

}  // namespace

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
  Sha256 digest;
  bool written = true;
  const bool filled = fill(
      [&](const char* data, std::size_t size) {
        digest.Update(reinterpret_cast<const std::uint8_t*>(data), size);
        for (std::size_t done = 0; written && done < size;) {
          const ssize_t now = write(fd, data + done, size - done);
          if (now < 0 && errno == EINTR) continue;
          written = now > 0;
          if (written) done += static_cast<std::size_t>(now);
        }
        return written;
      },
      error);
  const bool closed = close(fd) == 0;
  if (filled && written && closed && HexDigest(digest.Finish()) != sha256) {
    error = "the image " + sha256.substr(0, 12) + " fetched has another SHA-256";
  } else if (filled && written && closed && rename(temporary.c_str(), ImagePath(sha256).c_str()) == 0) {
    matched_.erase(sha256);
    return true;
  } else if (filled && error.empty()) {
    error = "cannot write into the image cache " + folder_ + ": " + std::strerror(errno);
  }
  unlink(temporary.c_str());
  return false;
}

std::string ImageCache::VersionPath(const std::string& name, const std::string& leaf) const {
  return folder_ + "/recipes/" + name + "/" + leaf;
}

bool ImageCache::WriteWhole(const std::string& path, const std::string& text, std::string& error) const {
  if (!MakeFolders(std::filesystem::path(path).parent_path().string(), error)) return false;
  const std::string temporary = path + ".new-" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      error = "cannot write " + temporary;
      return false;
    }
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// One line per row: ITEM 1 SHA256 BYTES FILE-NAME, or ITEM 0 for a row not enabled.
bool ImageCache::SaveVersion(const RecipeVersion& recipe, std::string& error) {
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
  return WriteWhole(VersionPath(recipe.name, std::to_string(recipe.version)), text, error);
}

std::optional<RecipeVersion> ImageCache::LoadVersion(const std::string& name, int version) const {
  if (!IsRecipeName(name) || version <= 0) return std::nullopt;
  std::ifstream in(VersionPath(name, std::to_string(version)), std::ios::binary);
  if (!in) return std::nullopt;
  RecipeVersion recipe;
  recipe.name = name;
  recipe.version = version;
  std::string line;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
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
  return recipe;
}

bool ImageCache::SetLastWhole(const std::string& name, int version, std::string& error) {
  return WriteWhole(VersionPath(name, "active"), std::to_string(version) + "\n", error);
}

std::optional<int> ImageCache::LastWhole(const std::string& name) const {
  if (!IsRecipeName(name)) return std::nullopt;
  std::ifstream in(VersionPath(name, "active"));
  int version = 0;
  if (!(in >> version) || version <= 0) return std::nullopt;
  return version;
}

std::optional<std::uint8_t> ImageCache::FirstRowNotHeld(const RecipeVersion& recipe) {
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    if (row.enabled && !Holds(row.sha256, row.bytes)) return kind;
  }
  return std::nullopt;
}
