// veze6-panel: widgets on a designed form showing items of the simulation
// server.
//
//   veze6-panel                            shows the window
//   veze6-panel --exit-after-first-change  exits 0 once a data change has
//                                          arrived (1 when none comes)
//   veze6-panel --server PROGID            another server than the form's
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "dialogs/tguiapplicationhandler.h"
#include "panelwindow.h"
#include "simulator/simulator.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("veze6-panel"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("A designed form bound to OPC items."));
  parser.addHelpOption();
  const QCommandLineOption exitAfterChange(
      QStringLiteral("exit-after-first-change"),
      QStringLiteral("Exit once the first data change has arrived (for tests)."));
  const QCommandLineOption server(QStringLiteral("server"),
                                  QStringLiteral("Connect to <progid> instead."),
                                  QStringLiteral("progid"));
  parser.addOption(exitAfterChange);
  parser.addOption(server);
  parser.process(app);
  const bool once = parser.isSet(exitAfterChange);

  veze6::sim::registerSimulationServer();
  // Failures in message boxes, except unattended: then on the console.
  if (!once) InstallGuiApplicationHandler();

  PanelWindow window;
  if (parser.isSet(server)) {
    TqOPCServer* component = window.Server();
    try {
      component->Connect(parser.value(server));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "veze6-panel: %s\n", e.what());
      return 1;
    }
  }
  window.show();
  if (!once) return app.exec();

  int result = 1;
  QObject::connect(&window, &PanelWindow::changed, &app, [&] {
    result = 0;
    app.quit();
  });
  // Not a wait: the limit after which a missing data change is a failure.
  QTimer::singleShot(30000, &app, [&] {
    std::fprintf(stderr, "veze6-panel: no data change arrived\n");
    app.quit();
  });
  if (!window.Server()->Active()) {
    std::fprintf(stderr, "veze6-panel: not connected\n");
    return 1;
  }
  app.exec();
  return result;
}
