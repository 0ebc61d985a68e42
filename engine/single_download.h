// The per-row download buttons (hidden in the window's layout, still wired).
#pragma once

void OnDownloadBoot();
void OnDownloadHost();
void OnDownloadRcdb();
void OnDownloadFont();
void OnDownloadLang();
void OnDownloadFv();
void OnDownloadBmp();
void OnDownloadPic();
