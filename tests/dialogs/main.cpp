// Test runner of the dialogs and the design-time windows: a widget
// application on the offscreen platform. Registration files are looked for
// in empty temporary folders, so the servers a search finds are the ones the
// tests register.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "opc/classregistry.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir configDir;
  if (!configDir.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", configDir.filePath(QStringLiteral("home")).toLocal8Bit());
  qputenv("XDG_CONFIG_DIRS", configDir.filePath(QStringLiteral("system")).toLocal8Bit());
  opc::ClassRegistry::instance().reloadRegistrationFiles();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
