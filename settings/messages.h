// The message table: keys "S0000" to "S0054" in section "Strings" of
// setting.ini, read at every use, and the fixed texts that are not configurable.
#pragma once

#include <string>

#include "link/operator_messages.h"

inline constexpr int kMessageCount = 55;

// "S" and four digits: MessageKey(52) == "S0052".
std::string MessageKey(int number);
// The text of key number; empty when absent.
std::string MessageText(int number);
// A configurable message box: the text of key number, title S0011, both read
// right before showing. Returns when the operator has dismissed it.
void ShowTableMessage(int number, MessageIcon icon = MessageIcon::Warning);

// Keys by meaning.
inline constexpr int kMsgWindowCaption = 0;
inline constexpr int kMsgBatchButton = 9;
inline constexpr int kMsgNoHandle = 10;
inline constexpr int kMsgTitle = 11;
inline constexpr int kMsgQueueEmpty = 30;
inline constexpr int kMsgPictureTooLarge = 31;
inline constexpr int kMsgDone = 50;
inline constexpr int kMsgBeginRefused = 51;
inline constexpr int kMsgNoReply = 52;
inline constexpr int kMsgBootTag = 53;
inline constexpr int kMsgHostTag = 54;
// Per row kind k (0..8).
inline constexpr int MsgPathEmpty(int k) { return 12 + 2 * k; }
inline constexpr int MsgFileMissing(int k) { return 13 + 2 * k; }
inline constexpr int MsgItemStarted(int k) { return 32 + k; }
inline constexpr int MsgItemFinished(int k) { return 41 + k; }

// Fixed texts.
inline constexpr const char* kTextHintTitle = "提示";
inline constexpr const char* kTextChooseFile = "请选择待烧录文件！";
inline constexpr const char* kTextChoosePicture = "请选择待写入图片！";
inline constexpr const char* kTextBadPath = "指定的文件路径有误！";
inline constexpr const char* kTextNoMemory = "内存分配失败！";
inline constexpr const char* kTextTimeoutTitle = "超时重发";
inline constexpr const char* kTextWarningTitle = "Warning";
inline constexpr const char* kTextMallocBoot = "malloc error！";
inline constexpr const char* kTextMallocHost = "malloc error!";
inline constexpr const char* kTimeFormat = "%H:%M:%S";
