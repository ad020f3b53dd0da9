#include "demooptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

void AddDemoOptions(QCommandLineParser& parser) {
  parser.addOption(
      {QStringLiteral("screenshot"),
       QCoreApplication::translate("qopc-demo",
                                   "Save the window to <file> (PNG) once values have arrived, "
                                   "then exit."),
       QStringLiteral("file")});
  parser.addOption(
      {QStringLiteral("server"),
       QCoreApplication::translate("qopc-demo",
                                   "Show items of <server>: a ProgID, a class id or an "
                                   "opc.tcp:// URL (default: the simulation server)."),
       QStringLiteral("server")});
  parser.addOption(
      {QStringLiteral("items"),
       QCoreApplication::translate("qopc-demo",
                                   "The item ids to show, separated by commas (the option may "
                                   "be repeated)."),
       QStringLiteral("ids")});
  parser.addOption(
      {QStringLiteral("branch"),
       QCoreApplication::translate("qopc-demo",
                                   "Show the first items found at and below <branch> (a dotted "
                                   "path or a branch's item id; default: the root)."),
       QStringLiteral("branch")});
  parser.addOption(
      {QStringLiteral("count"),
       QCoreApplication::translate("qopc-demo", "How many browsed items to show (default 12)."),
       QStringLiteral("n")});
}

bool ReadDemoOptions(const QCommandLineParser& parser, TDemoOptions& options, QString& error) {
  options = TDemoOptions{};
  options.screenshot = parser.value(QStringLiteral("screenshot"));
  options.server = parser.value(QStringLiteral("server")).trimmed();
  for (const QString& list : parser.values(QStringLiteral("items"))) {
    for (const QString& id : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      if (!id.trimmed().isEmpty()) options.items << id.trimmed();
    }
  }
  options.branch = parser.value(QStringLiteral("branch")).trimmed();
  if (parser.isSet(QStringLiteral("items")) && options.items.isEmpty()) {
    error = QStringLiteral("--items names no item");
    return false;
  }
  if (!options.items.isEmpty() &&
      (parser.isSet(QStringLiteral("branch")) || parser.isSet(QStringLiteral("count")))) {
    error = QStringLiteral("--items and --branch or --count exclude each other");
    return false;
  }
  if (parser.isSet(QStringLiteral("count"))) {
    bool ok = false;
    options.count = parser.value(QStringLiteral("count")).toInt(&ok);
    if (!ok || options.count < 1 || options.count > 100) {
      error = QStringLiteral("--count must be a number from 1 to 100");
      return false;
    }
  }
  options.itemForm = !options.server.isEmpty() || !options.items.isEmpty() ||
                     parser.isSet(QStringLiteral("branch")) ||
                     parser.isSet(QStringLiteral("count"));
  return true;
}
