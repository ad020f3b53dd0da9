#include "screenshotharness.h"

#include <QApplication>
#include <QLabel>
#include <QTreeWidget>
#include <cstdio>

#include "core/qOPC.h"
#include "design/qOPCPropEdit.h"

namespace {

const QString kSimulation = QStringLiteral("Veze6.Simulation.1");

QString labelText(const QWidget& window, const char* name) {
  const auto* label = window.findChild<QLabel*>(QLatin1String(name));
  return label ? label->text() : QString();
}

}  // namespace

void ScreenshotHarness::connect(TqOPCServer& server) {
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

ScreenshotHarness::ScreenshotHarness(QString file)
    : file_(std::move(file)), giveUp_(std::chrono::seconds(30)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
}

void ScreenshotHarness::start() {
  giveUp_ = QDeadlineTimer(std::chrono::seconds(30));
  timer_.start(50);
}

// From inside the window's modal loop: select the first group once, and take
// the picture when the status, the group state and a value are shown.
void ScreenshotHarness::poll() {
  auto* window = qobject_cast<TqOPCDlgExplorer*>(QApplication::activeModalWidget());
  if (!window) return;
  auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("TreeView1"));
  if (!selected_ && tree && tree->topLevelItemCount() > 0) {
    tree->setCurrentItem(tree->topLevelItem(0));
    selected_ = true;
  }
  auto* items = window->findChild<QTreeWidget*>(QStringLiteral("ItemView"));
  const bool valueShown = items && items->topLevelItemCount() > 0 &&
                          !items->topLevelItem(0)->text(TqOPCDlgExplorer::ValueColumn).isEmpty();
  const bool shown = valueShown && !labelText(*window, "LState").isEmpty() &&
                     !labelText(*window, "LName").isEmpty() &&
                     !labelText(*window, "LUpdateTime").isEmpty();
  if (shown) {
    result_ = window->grab().save(file_, "PNG") ? 0 : 1;
    if (result_ != 0) std::fprintf(stderr, "qopc-inspector: cannot write %s\n", qPrintable(file_));
  } else if (!giveUp_.hasExpired()) {
    return;
  } else {
    std::fprintf(stderr, "qopc-inspector: the status was never shown\n");
  }
  timer_.stop();
  window->close();
}
