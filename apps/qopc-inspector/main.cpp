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
#include "core/translations.h"
#include "design/qOPCPropEdit.h"
#include "dialogs/tguiapplicationhandler.h"
#include "screenshotharness.h"
#include "simulator/simulator.h"
#include "uabridge/uaregistration.h"

namespace {

void report(const QString& what, const std::exception& e) {
  const auto* ex = dynamic_cast<const Exception*>(&e);
  std::fprintf(stderr, "qopc-inspector: %s: %s\n", qPrintable(what),
               ex ? qPrintable(ex->Message()) : e.what());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qopc-inspector"));
  veze6::installTranslations();
  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate(
      "qopc-inspector",
      "The OPC Inspector: connect to an OPC server, watch its status and edit groups and "
      "items."));
  parser.addHelpOption();
  parser.addPositionalArgument(
      QStringLiteral("file"),
      QCoreApplication::translate("qopc-inspector", "A saved configuration to load first."),
      QStringLiteral("[file]"));
  const QCommandLineOption save(
      QStringLiteral("save"),
      QCoreApplication::translate("qopc-inspector",
                                  "Save the configuration to <file> when the window is closed."),
      QStringLiteral("file"));
  const QCommandLineOption shot(
      QStringLiteral("screenshot"),
      QCoreApplication::translate("qopc-inspector",
                                  "Connect to the simulation server, save the window to <file> "
                                  "(PNG) once the status is shown, exit."),
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
    report(QCoreApplication::translate("qopc-inspector", "cannot load"), e);
    return 1;
  }
  try {
    if (!shotFile.isEmpty()) ScreenshotHarness::connect(server);
  } catch (const std::exception& e) {
    report(QCoreApplication::translate("qopc-inspector", "cannot connect"), e);
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
      report(QCoreApplication::translate("qopc-inspector", "cannot save"), e);
      return 1;
    }
  }
  return harness ? harness->result() : 0;
}
