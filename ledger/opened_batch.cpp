#include "ledger/opened_batch.h"

#include <string>
#include <utility>
#include <vector>

#include "engine/image_pins.h"
#include "link/device_choice.h"
#include "link/usb_port.h"
#include "record/transfer_context.h"

void RecordOpenedBatchDevice(BoardRecorder& recorder) {
  std::string device;
  std::string slot;
  if (g_transfer.foundDevice != nullptr) {
    const DeviceAddress address = AddressOf(*g_transfer.foundDevice);
    device = address.Text();
    slot = UsbPortOf(address);
  }
  std::vector<ImageRecord> rows;
  for (const BatchItem& item : g_transfer.batchQueue) {
    ImageRecord row;
    row.kind = KindName(item.kind);
    row.path = item.path;
    row.pinned = !PinnedDigest(item.kind).empty();
    rows.push_back(std::move(row));
  }
  recorder.DeviceOpened(device, slot, std::move(rows));
}
