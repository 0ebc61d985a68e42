// One QApplication for every Qt widget test program; drawn offscreen unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

#include "tests/private_runtime_folder.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const PrivateRuntimeFolder runtimeFolder;
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
