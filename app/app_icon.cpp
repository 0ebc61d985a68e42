#include "app/app_icon.h"

#include <QString>

QIcon AppIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/res/icon128_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
