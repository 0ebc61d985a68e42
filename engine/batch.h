// The batch download: the press of the batch button, and the start of each queued item.
#pragma once

// Handler of the batch button 1047.
void OnBatchDownload();
// Starts the front item of g_transfer.batchQueue without removing it (queue not empty).
void StartBatchItem();
