// The application icon (resource 128): window, taskbar and About box.
#pragma once

#include <QIcon>

QIcon AppIcon();
