// The station's cache of recipe images, a folder holding each image once
// under its SHA-256, and beside them the versions it has taken
// (recipes/NAME/VERSION) and the last one it held whole (recipes/NAME/active),
// so that it can go on without the line database.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "recipes/recipe.h"

// --image-cache's default: $CACHE_DIRECTORY (the service's CacheDirectory=),
// else $XDG_CACHE_HOME/tamsolt/images, else ~/.cache/tamsolt/images.
std::string DefaultImageCacheFolder();

// A version's rows as the cache keeps them (recipes/NAME/VERSION), and their
// SHA-256: what a station gives its writers and keeps with the last version
// held whole, so that rows changed on disk are found before they are written.
std::string VersionRowsText(const RecipeVersion& recipe);
std::string VersionRowsDigest(const RecipeVersion& recipe);

class ImageCache {
 public:
  // Receives the image's bytes in order; false stops the filling.
  using Sink = std::function<bool(const char* data, std::size_t size)>;
  using Filler = std::function<bool(const Sink& sink, std::string& error)>;

  explicit ImageCache(std::string folder) : folder_(std::move(folder)) {}
  const std::string& Folder() const { return folder_; }
  std::string ImagePath(const std::string& sha256) const { return folder_ + "/" + sha256; }

  // The cached file has bytes bytes whose SHA-256 is sha256. It is hashed
  // unless it is the very file that matched before in this process (same
  // inode, size, modification and change time): any write to it changes
  // its change time, so an image altered on disk is hashed again.
  bool Holds(const std::string& sha256, std::uint64_t bytes);
  // The image written through a temporary file, its digest checked, then
  // moved into place: a cut fetch leaves no image behind.
  bool Store(const std::string& sha256, const Filler& fill, std::string& error);

  // The versions taken, as their rows: written once a version's images are held.
  bool SaveVersion(const RecipeVersion& recipe, std::string& error);
  // The version's rows, read without following a link planted in the cache;
  // with digest given, only rows of that digest (else nothing, why in error).
  std::optional<RecipeVersion> LoadVersion(const std::string& name, int version,
                                           const std::string& digest, std::string& error) const;
  // The last version of name held whole here, with its rows' digest; it is
  // what a station writes while the line database cannot be reached.
  bool SetLastWhole(const RecipeVersion& recipe, std::string& error);
  struct Whole {
    int version = 0;
    std::string digest;  // "" in a cache written before digests were kept
  };
  std::optional<Whole> LastWhole(const std::string& name) const;
  // Temporary files of fetches and writes whose process is gone (killed, or
  // a disk that filled), removed; those of a fetch under way are kept.
  void RemoveLeftovers() const;
  // The first enabled row whose image is not held whole, if any.
  std::optional<std::uint8_t> FirstRowNotHeld(const RecipeVersion& recipe);

 private:
  struct Seen {
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const Seen&) const = default;
  };
  std::string VersionPath(const std::string& name, const std::string& leaf) const;
  // The folder recipes/NAME, made when missing; a link or anything but a
  // folder where it should be is refused.
  bool MakeVersionFolder(const std::string& name, std::string& error) const;
  bool WriteWhole(const std::string& path, const std::string& text, std::string& error) const;

  std::string folder_;
  std::map<std::string, Seen> matched_;  // by digest: the file as it was when it last matched
};
