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
#include <QDeadlineTimer>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "core/qOPC.h"
#include "design/qOPCPropEdit.h"
#include "dialogs/tguiapplicationhandler.h"
#include "simulator/simulator.h"

namespace {

const QString kSimulation = QStringLiteral("Veze6.Simulation.1");

void report(const char* what, const std::exception& e) {
  const auto* ex = dynamic_cast<const Exception*>(&e);
  std::fprintf(stderr, "qopc-inspector: %s: %s\n", what, ex ? qPrintable(ex->Message()) : e.what());
}

// For the picture: a loaded configuration as it is (connected, to the
// simulation server when it names none), otherwise the simulation server
// with a group of a few items.
void connectForPicture(TqOPCServer& server) {
  if (server.OPCGroups()->Count() > 0) {
    if (server.ServerName().trimmed().isEmpty()) server.SetServer(kSimulation);
    server.SetActive(true);
    return;
  }
  server.Connect(kSimulation);
  server.OPCGroupDefault()->UpdateRate = 500;
  server.OPCGroupDefault()->DeadBand = 0.5f;
  TqOPCGroup* line = server.OPCGroups()->Add(QStringLiteral("Line1"));
  for (const char* id : {"Sine.Real8", "Ramp.Int4", "Random.Int4", "Static.String"})
    line->OPCItems()->AddItem(QLatin1String(id));
  line->OPCItems()->FindOPCItem(QStringLiteral("Static.String"))->SetIsActive(false);
  server.OPCGroupDefault()->IsActive = false;
  server.OPCGroups()->Add(QStringLiteral("Line2"));
}

QString labelText(const QWidget& window, const char* name) {
  const auto* label = window.findChild<QLabel*>(QLatin1String(name));
  return label ? label->text() : QString();
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
  if (shotFile.isEmpty()) InstallGuiApplicationHandler();

  TqOPCServer server;
  try {
    if (!files.isEmpty()) server.LoadFromFile(files.first());
  } catch (const std::exception& e) {
    report("cannot load", e);
    return 1;
  }
  try {
    if (!shotFile.isEmpty()) connectForPicture(server);
  } catch (const std::exception& e) {
    report("cannot connect", e);
    return 1;
  }

  int result = 0;
  QTimer poll;
  QDeadlineTimer giveUp(std::chrono::seconds(30));
  if (!shotFile.isEmpty()) {
    // From inside the window's modal loop: select the first group once, and
    // take the picture when the status and the group state are shown.
    result = 1;
    bool selected = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* window = qobject_cast<TqOPCDlgExplorer*>(QApplication::activeModalWidget());
      if (!window) return;
      auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("TreeView1"));
      if (!selected && tree && tree->topLevelItemCount() > 0) {
        tree->setCurrentItem(tree->topLevelItem(0));
        selected = true;
      }
      const bool shown = !labelText(*window, "LState").isEmpty() &&
                         !labelText(*window, "LName").isEmpty() &&
                         !labelText(*window, "LUpdateTime").isEmpty();
      if (shown) {
        result = window->grab().save(shotFile, "PNG") ? 0 : 1;
        if (result != 0)
          std::fprintf(stderr, "qopc-inspector: cannot write %s\n", qPrintable(shotFile));
      } else if (!giveUp.hasExpired()) {
        return;
      } else {
        std::fprintf(stderr, "qopc-inspector: the status was never shown\n");
      }
      poll.stop();
      window->close();
    });
    poll.start(50);
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
  return result;
}
