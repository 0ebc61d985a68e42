#include "demo/device_check.h"

#include <algorithm>
#include <cstdio>

namespace {

// "BOOT  boot.bin        " : the kind and the device's file, aligned.
std::string Lead(RowKind kind) {
  char lead[32];
  std::snprintf(lead, sizeof lead, "%-4s  %-9s ", KindLabel(kind), (std::string(DeviceImageName(kind)) + ".bin").c_str());
  return lead;
}

std::string Format(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

ImageFinding CompareImage(RowKind kind, const std::string& sourceName, const ExpectedImage& expected,
                          const std::optional<Bytes>& stored) {
  ImageFinding finding{kind, false, Lead(kind)};
  if (!expected.problem.empty()) {
    finding.line += "not checked: source " + sourceName + ": " + expected.problem;
    return finding;
  }
  if (!stored) {
    finding.line += "missing: the device stored no such image";
    return finding;
  }
  const std::size_t want = expected.bytes.size();
  const std::size_t block = expected.wholeBlocksOf;
  const std::size_t wantStored = (want + block - 1) / block * block;
  if (stored->size() != wantStored) {
    finding.line += Format("%zu bytes, expected %zu from %s", stored->size(), wantStored, sourceName.c_str());
    return finding;
  }
  const auto differs = std::mismatch(expected.bytes.begin(), expected.bytes.end(), stored->begin());
  if (differs.first != expected.bytes.end()) {
    finding.line += Format("differs at byte %td of %zu: device 0x%02X, expected 0x%02X from %s",
                           differs.first - expected.bytes.begin(), want, unsigned{*differs.second},
                           unsigned{*differs.first}, sourceName.c_str());
    return finding;
  }
  finding.matches = true;
  finding.line += Format("%7zu bytes  as computed from %s", want, sourceName.c_str());
  if (wantStored > want) {
    finding.line += Format(" (its last short block carries %zu bytes more)", wantStored - want);
  }
  return finding;
}

std::vector<ImageFinding> CheckDeviceImages(const std::vector<SourceFile>& sources,
                                            const std::filesystem::path& deviceDir) {
  std::vector<ImageFinding> findings;
  for (const SourceFile& source : sources) {
    const std::string sourceName = source.path.filename().string();
    const std::optional<Bytes> sourceBytes = ReadFileBytes(source.path);
    if (!sourceBytes) {
      findings.push_back({source.kind, false, Lead(source.kind) + "not checked: cannot read " + source.path.string()});
      continue;
    }
    const std::filesystem::path storedPath = deviceDir / (std::string(DeviceImageName(source.kind)) + ".bin");
    std::error_code error;
    const std::optional<Bytes> stored =
        std::filesystem::is_regular_file(storedPath, error) ? ReadFileBytes(storedPath) : std::nullopt;
    findings.push_back(CompareImage(source.kind, sourceName, ExpectedStore(source.kind, *sourceBytes), stored));
  }
  return findings;
}

bool AllMatch(const std::vector<ImageFinding>& findings) {
  return !findings.empty() &&
         std::all_of(findings.begin(), findings.end(), [](const ImageFinding& f) { return f.matches; });
}

std::string Verdict(const std::vector<ImageFinding>& findings) {
  if (findings.empty()) return "Verdict: FAILED, no image to check.";
  const auto bad = std::count_if(findings.begin(), findings.end(), [](const ImageFinding& f) { return !f.matches; });
  if (bad == 0) return Format("Verdict: OK, the device stored all %zu images byte for byte.", findings.size());
  return Format("Verdict: FAILED, %td of %zu images are not what their sources demand.", bad, findings.size());
}
