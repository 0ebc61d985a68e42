#include "settings/messages.h"

#include <cstdio>

#include "settings/settings.h"

std::string MessageKey(int number) {
  char key[16];
  std::snprintf(key, sizeof key, "S%04d", number);
  return key;
}

std::string MessageText(int number) { return ReadSetting(MessageKey(number), "Strings"); }

void ShowTableMessage(int number, MessageIcon icon) {
  // Both read now, so a text edited while the tool runs shows at once.
  const std::string text = MessageText(number);
  const std::string title = MessageText(kMsgTitle);
  ShowOperatorMessage(text, title, icon);
}
