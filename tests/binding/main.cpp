// Widgets need an application object; settings go to a temporary folder so
// that no test reads or changes the user's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "testwidgets.h"

QString gSettingsDir;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settingsDir;
  if (!settingsDir.isValid()) return 2;
  gSettingsDir = settingsDir.path();
  QStandardPaths::setTestModeEnabled(true);
  for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    QSettings::setPath(format, QSettings::UserScope, settingsDir.filePath(QStringLiteral("user")));
    QSettings::setPath(format, QSettings::SystemScope,
                       settingsDir.filePath(QStringLiteral("system")));
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
