// A console client: connects to an OPC DA server (by default the simulation
// server module), adds items to a group and prints data changes until it has
// seen the given number of them.
//
//   console-client [--server PROGID] [--count N] [ITEM...]
//
// Exit status 0 once N changes arrived, 1 when the connection failed or no
// changes came within the time limit, 2 for a usage error.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "core/qOPC.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("Prints data changes of OPC DA items.");
  parser.addHelpOption();
  parser.addOption(
      {"server", "A ProgID or a class id in braces.", "PROGID", "Veze6.SimulationModule.1"});
  parser.addOption({"count", "Exit after this many item changes.", "N", "5"});
  parser.addOption({"timeout", "Give up after this many seconds.", "S", "30"});
  parser.addPositionalArgument("items", "Item ids (default: two simulated signals).", "[ITEM...]");
  parser.process(app);
  bool countOk = false;
  const int count = parser.value("count").toInt(&countOk);
  const int timeout = parser.value("timeout").toInt();
  if (!countOk || count <= 0) {
    std::fprintf(stderr, "console-client: --count needs a positive number\n");
    return 2;
  }
  QStringList ids = parser.positionalArguments();
  if (ids.isEmpty()) ids = {"Random.Int4", "Ramp.Real8"};

  TqOPCServer server;
  server.SetServer(parser.value("server"));
  server.SetClientName("console-client");
  server.OPCGroupDefault()->UpdateRate = 100;
  int seen = 0;
  // Each data change arrives on this thread through the event loop.
  server.OnDatachange = [&](QObject*, TqOPCItemList* list) {
    for (int i = 0; i < list->Count() && seen < count; ++i) {
      const TqOPCItem* item = list->Items(i);
      std::printf("%s = %s (quality %d)\n", qPrintable(item->ItemID()),
                  qPrintable(item->ValueStr()), int(item->Quality()));
      ++seen;
    }
    std::fflush(stdout);
    if (seen >= count) app.quit();
  };
  try {
    server.SetActive(true);
    TqOPCGroup* group = server.OPCGroups()->Add("console");
    for (const QString& id : ids) group->OPCItems()->AddItem(id);
  } catch (const Exception& e) {
    std::fprintf(stderr, "console-client: %s\n", qPrintable(e.Message()));
    return 1;
  }
  QTimer::singleShot(timeout * 1000, &app, [&] { app.exit(1); });
  const int rc = app.exec();
  if (rc != 0) std::fprintf(stderr, "console-client: %d of %d changes in time\n", seen, count);
  return rc;
}
