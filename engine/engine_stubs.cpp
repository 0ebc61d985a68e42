// Placeholders until the engine lands; the engine's own files replace these.
#include "engine/batch.h"
#include "engine/engine_host.h"
#include "engine/single_download.h"

void OnBatchDownload() {}
void StartBatchItem() {}
void OnDownloadBoot() {}
void OnDownloadHost() {}
void OnDownloadRcdb() {}
void OnDownloadFont() {}
void OnDownloadLang() {}
void OnDownloadFv() {}
void OnDownloadBmp() {}
void OnDownloadPic() {}
void OnTimer(std::uint32_t) {}
