#include "record/transfer_context.h"

TransferContext g_transfer{};

const char* KindName(std::uint8_t kind) {
  static constexpr const char* kNames[kKindCount] = {"BOOT", "HOST", "RCDB", "FONT", "LANG",
                                                     "FV",   "BMP",  "PIC",  "TDB"};
  return kind < kKindCount ? kNames[kind] : "";
}
