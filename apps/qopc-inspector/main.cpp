// qopc-inspector: the OPC Inspector on a server component of its own, with
// the built-in simulation server among the servers to choose from.
//
//   qopc-inspector [FILE]              opens the Inspector; FILE is a saved
//                                      configuration loaded first
//   qopc-inspector --save OUT [FILE]   saves the configuration to OUT once the
//                                      window is closed
//   qopc-inspector --screenshot PNG    connects to the simulation server with a
//                                      group and items, waits until the status
//                                      is shown, saves the window and exits
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

#include "core/qOPC.h"
#include "design/qOPCPropEdit.h"
#include "dialogs/tguiapplicationhandler.h"
#include "screenshotharness.h"
#include "simulator/simulator.h"
#include "uabridge/uaregistration.h"

namespace {

void report(const char* what, const std::exception& e) {
  const auto* ex = dynamic_cast<const Exception*>(&e);
  std::fprintf(stderr, "qopc-inspector: %s: %s\n", what, ex ? qPrintable(ex->Message()) : e.what());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qopc-inspector"));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The OPC Inspector: connect to an OPC server, watch its status and edit "
                     "groups and items."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("file"),
                               QStringLiteral("A saved configuration to load first."),
                               QStringLiteral("[file]"));
  const QCommandLineOption save(QStringLiteral("save"),
                                QStringLiteral("Save the configuration to <file> when the window "
                                               "is closed."),
                                QStringLiteral("file"));
  const QCommandLineOption shot(QStringLiteral("screenshot"),
                                QStringLiteral("Connect to the simulation server, save the window "
                                               "to <file> (PNG) once the status is shown, exit."),
                                QStringLiteral("file"));
  parser.addOption(save);
  parser.addOption(shot);
  parser.process(app);
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) parser.showHelp(2);
  const QString shotFile = parser.value(shot);

  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();
  if (shotFile.isEmpty()) InstallGuiApplicationHandler();

  TqOPCServer server;
  try {
    if (!files.isEmpty()) server.LoadFromFile(files.first());
  } catch (const std::exception& e) {
    report("cannot load", e);
    return 1;
  }
  try {
    if (!shotFile.isEmpty()) ScreenshotHarness::connect(server);
  } catch (const std::exception& e) {
    report("cannot connect", e);
    return 1;
  }

  std::unique_ptr<ScreenshotHarness> harness;
  if (!shotFile.isEmpty()) {
    harness = std::make_unique<ScreenshotHarness>(shotFile);
    harness->start();
  }

  OPCExplorer(&server);

  if (parser.isSet(save)) {
    try {
      server.SaveToFile(parser.value(save));
    } catch (const std::exception& e) {
      report("cannot save", e);
      return 1;
    }
  }
  return harness ? harness->result() : 0;
}
