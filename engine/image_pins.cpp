#include "engine/image_pins.h"

#include <cctype>

#include "engine/engine_host.h"
#include "engine/sha256.h"
#include "record/transfer_context.h"
#include "settings/messages.h"
#include "settings/settings.h"

namespace {

std::optional<std::array<std::string, 9>> g_recipePins;

void ShowPinRefusal(const std::string& text) {
  Host().ShowMessage(text, MessageText(kMsgTitle), MessageIcon::Warning);
}

}  // namespace

void PinRowsTo(const std::optional<std::array<std::string, 9>>& digests) { g_recipePins = digests; }

std::string PinnedDigest(std::uint8_t kind) {
  if (g_recipePins) return kind < g_recipePins->size() ? (*g_recipePins)[kind] : std::string();
  std::string pin = ReadSetting(KindName(kind), kPinSection);
  for (char& c : pin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return pin;
}

std::string ShortDigest(const std::string& digest) { return digest.substr(0, 12); }

std::string PinMismatchText(std::uint8_t kind, const std::string& fileDigest,
                            const std::string& pinned) {
  if (!IsSha256Hex(pinned)) {
    return std::string(KindName(kind)) + ": the pinned SHA-256 \"" + ShortDigest(pinned) +
           "\" is not 64 hex digits";
  }
  if (fileDigest.empty()) return std::string(KindName(kind)) + ": the file cannot be read";
  return std::string(KindName(kind)) + ": the file's SHA-256 " + ShortDigest(fileDigest) +
         " differs from the pinned " + ShortDigest(pinned);
}

bool CheckPinAtPress(std::uint8_t kind, const std::string& path) {
  const std::string pinned = PinnedDigest(kind);
  if (pinned.empty()) return true;
  const std::string digest = Sha256OfFile(path);
  if (!digest.empty() && digest == pinned) return true;
  ShowPinRefusal(PinMismatchText(kind, digest, pinned));
  return false;
}

bool CheckPinOfLoadedBytes(std::uint8_t kind, const std::string& loadedDigest) {
  const std::string pinned = PinnedDigest(kind);
  if (pinned.empty() || loadedDigest == pinned) return true;
  ShowPinRefusal(PinMismatchText(kind, loadedDigest, pinned));
  return false;
}

std::string PinnedRowLogText(std::uint8_t kind) {
  return std::string(KindName(kind)) + " pinned, SHA-256 " + ShortDigest(PinnedDigest(kind));
}
