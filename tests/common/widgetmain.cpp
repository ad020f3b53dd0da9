// Runner of the widget suites: a widget application on the offscreen
// platform. Settings, configuration and data (certificate stores among them)
// go to a temporary folder, so that no test reads or changes the user's own,
// and registration files are looked for in empty temporary folders, so the
// servers a search finds are the ones the tests register.
#include "common/widgetmain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "opc/classregistry.h"

QString gSettingsDir;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir tempDir;
  if (!tempDir.isValid()) return 2;
  gSettingsDir = tempDir.filePath(QStringLiteral("settings"));
  QStandardPaths::setTestModeEnabled(true);
  for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    QSettings::setPath(format, QSettings::UserScope, gSettingsDir + QStringLiteral("/user"));
    QSettings::setPath(format, QSettings::SystemScope, gSettingsDir + QStringLiteral("/system"));
  }
  qputenv("XDG_CONFIG_HOME", tempDir.filePath(QStringLiteral("home")).toLocal8Bit());
  qputenv("XDG_CONFIG_DIRS", tempDir.filePath(QStringLiteral("system")).toLocal8Bit());
  qputenv("XDG_DATA_HOME", tempDir.filePath(QStringLiteral("data")).toLocal8Bit());
  opc::ClassRegistry::instance().reloadRegistrationFiles();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
