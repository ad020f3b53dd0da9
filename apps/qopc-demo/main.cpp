// qopc-demo: a window whose widgets show items of the built-in simulation
// server through the binding component, or a form of any server's items.
//
//   qopc-demo                    shows the window
//   qopc-demo --screenshot FILE  waits until values have arrived, saves the
//                                window as a PNG picture and exits
//   qopc-demo --server S [--items ID,... | --branch B] [--count N]
//                                a form of the named items of S (a ProgID,
//                                class id or opc.tcp:// URL), or of the first
//                                N items found at and below branch B
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "core/exceptions.h"
#include "core/translations.h"
#include "demoform.h"
#include "demooptions.h"
#include "dialogs/tguiapplicationhandler.h"
#include "itemform.h"
#include "simulator/simulator.h"
#include "uabridge/uaregistration.h"

namespace {

/// The form of a server's items; with a screenshot file, saves it once every
/// accepted item has a value.
int showItemForm(QApplication& app, const TDemoOptions& options) {
  std::unique_ptr<TItemForm> form;
  try {
    form = std::make_unique<TItemForm>(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qopc-demo: %s\n", e.what());
    return 1;
  }
  form->show();
  if (options.screenshot.isEmpty()) return app.exec();
  QDeadlineTimer giveUp(std::chrono::seconds(30));
  QTimer poll;
  int result = 1;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (form->ValuesArrived()) {
      result = form->grab().save(options.screenshot, "PNG") ? 0 : 1;
      if (result != 0)
        std::fprintf(stderr, "qopc-demo: cannot write %s\n", qPrintable(options.screenshot));
      app.quit();
    } else if (giveUp.hasExpired()) {
      std::fprintf(stderr, "qopc-demo: no values arrived\n");
      app.quit();
    }
  });
  poll.start(50);
  app.exec();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qopc-demo"));
  veze6::installTranslations();
  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate(
      "qopc-demo", "Widgets bound to items of the veze6 simulation server."));
  parser.addHelpOption();
  AddDemoOptions(parser);
  parser.process(app);
  TDemoOptions options;
  QString optionError;
  if (!ReadDemoOptions(parser, options, optionError)) {
    std::fprintf(stderr, "qopc-demo: %s\n", qPrintable(optionError));
    return 2;
  }
  const QString shotFile = options.screenshot;

  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();
  if (shotFile.isEmpty()) InstallGuiApplicationHandler();
  if (options.itemForm) return showItemForm(app, options);

  std::unique_ptr<TDemoForm> form;
  try {
    form = std::make_unique<TDemoForm>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qopc-demo: %s\n", e.what());
    return 1;
  }
  form->show();
  if (shotFile.isEmpty()) return app.exec();

  // Check on every turn of the event loop's timer until the values are there.
  QDeadlineTimer deadline(std::chrono::seconds(10));
  QDeadlineTimer giveUp(std::chrono::seconds(30));
  QTimer poll;
  int result = 1;
  // A few changes in the log and a ticked box make a better picture; past
  // the deadline any complete set of values will do.
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const bool ticked = form->cbSquare->isChecked() || form->cbRandom->isChecked();
    if ((form->ValuesArrived(6) && ticked) || (deadline.hasExpired() && form->ValuesArrived())) {
      result = form->grab().save(shotFile, "PNG") ? 0 : 1;
      if (result != 0) std::fprintf(stderr, "qopc-demo: cannot write %s\n", qPrintable(shotFile));
      app.quit();
    } else if (giveUp.hasExpired()) {
      std::fprintf(stderr, "qopc-demo: no values arrived\n");
      app.quit();
    }
  });
  poll.start(50);
  app.exec();
  return result;
}
