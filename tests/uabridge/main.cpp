// Widgets need an application object; the configuration, data and
// certificate folders go to a temporary folder so that no test reads or
// changes the user's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "uabridge/uaregistration.h"

QString gHomeDir;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  gHomeDir = home.path();
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"}) {
    const QString dir = home.filePath(QString::fromLatin1(name));
    ::setenv(name, dir.toUtf8().constData(), 1);
  }
  QApplication app(argc, argv);
  veze6::uab::registerUaBridge();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
