// qopc: a command-line tool for OPC DA servers (status now; more commands
// arrive as the library grows).
#include <QCoreApplication>

#include "commands.h"
#include "core/translations.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qopc"));
  veze6::installTranslations();
  QTextStream out(stdout);
  QTextStream err(stderr);
  return qopc::run(app.arguments().mid(1), qopc::Io{out, err});
}
