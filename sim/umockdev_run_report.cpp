#include "sim/umockdev_run_report.h"

namespace sim {
namespace {

const char* ClaimEndWord(ClaimEnd end) {
  switch (end) {
    case ClaimEnd::NeverClaimed: return "never-claimed";
    case ClaimEnd::Released: return "released";
    case ClaimEnd::LeftTheBus: return "lost-on-leave";
    // The report is written once every process has ended: a claim still held
    // went with its handle.
    case ClaimEnd::Held:
    case ClaimEnd::Closed: return "closed-while-claimed";
  }
  return "unknown";
}

}  // namespace

std::string ReportLine(std::size_t number, const std::string& port, const Summary& summary,
                       ClaimEnd claimEnd) {
  return "device " + std::to_string(number) + " port " + port + " frames " +
         std::to_string(summary.frames) + " rejected " + std::to_string(summary.rejectedFrames) +
         " interface " + ClaimEndWord(claimEnd) + " ended " + std::to_string(summary.exchangesEnded);
}

}  // namespace sim
