#include "opcdesignerplugin.h"

#include <QCoreApplication>
#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowCursorInterface>
#include <QDesignerFormWindowInterface>
#include <QDesignerLayoutDecorationExtension>
#include <QExtensionManager>
#include <QLayout>
#include <QMetaProperty>
#include <QPainter>
#include <QPixmap>
#include <QUndoStack>
#include <exception>

#include "core/application.h"
#include "core/translations.h"
#include "design/qOPCGUIDlg.h"
#include "design/qOPCPropEdit.h"
#include "design/tqcomponenthost.h"
#include "dialogs/qOPCServerDlg.h"
#include "dialogs/tguiapplicationhandler.h"

// ---- one component ----

TqOPCComponentInterface::TqOPCComponentInterface(const QMetaObject& host,
                                                 const QString& defaultName, const QString& toolTip,
                                                 Factory factory, QObject* parent)
    : QObject(parent),
      hostMeta_(&host),
      hostClass_(QLatin1String(host.className())),
      defaultName_(defaultName),
      toolTip_(toolTip),
      factory_(std::move(factory)) {}

QIcon TqOPCComponentInterface::icon() const {
  // The host paints its own tile; the widget box shows the same picture.
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(0x60, 0x60, 0x60));
  painter.setBrush(QColor(0xe8, 0xe8, 0xe8));
  painter.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 4, 4);
  QFont font = painter.font();
  font.setPixelSize(10);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, defaultName_.left(3).toUpper());
  return QIcon(pixmap);
}

QString TqOPCComponentInterface::domXml() const {
  // The server's configuration is edited as several lines and, like every
  // name the hosts store, is not for translation: uic then sets it right
  // after creating the host instead of again at each language change.
  QString textProperties;
  const QMetaObject* meta = hostMeta_;
  for (int i = meta ? meta->propertyOffset() : 0; meta && i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (property.metaType().id() != QMetaType::QString) continue;
    const bool lines = QLatin1String(property.name()) == QLatin1String("Configuration");
    textProperties +=
        QStringLiteral("    <stringpropertyspecification name=\"%1\" notr=\"true\" type=\"%2\"/>\n")
            .arg(QLatin1String(property.name()),
                 lines ? QStringLiteral("multiline") : QStringLiteral("singleline"));
  }
  return QStringLiteral(
             "<ui language=\"c++\">\n"
             " <widget class=\"%1\" name=\"%2\"/>\n"
             " <customwidgets>\n"
             "  <customwidget>\n"
             "   <class>%1</class>\n"
             "   <propertyspecifications>\n%3"
             "   </propertyspecifications>\n"
             "  </customwidget>\n"
             " </customwidgets>\n"
             "</ui>\n")
      .arg(hostClass_, defaultName_, textProperties);
}

QWidget* TqOPCComponentInterface::createWidget(QWidget* parent) {
  TqComponentHost* host = factory_(parent);
  QDesignerFormWindowInterface* window =
      inDesigner_ && parent ? QDesignerFormWindowInterface::findFormWindow(parent) : nullptr;
  // Designer's preview builds the form outside any form window: it runs as
  // the application will.
  if (!window) return host;
  TqFormWindowWatcher::Watch(window);
  // While a form loads its main container is not known yet; the watcher
  // hands it to the hosts once it is.
  host->SetDesigning(window->mainContainer());
  return host;
}

void TqOPCComponentInterface::initialize(QDesignerFormEditorInterface* core) {
  if (initialized_) return;
  initialized_ = true;
  if (!core) return;
  inDesigner_ = true;
  if (!core->extensionManager()) return;
  QExtensionManager* manager = core->extensionManager();
  // One factory serves all three components.
  if (!manager->findChild<TqOPCTaskMenuFactory*>()) {
    manager->registerExtensions(new TqOPCTaskMenuFactory(manager),
                                Q_TYPEID(QDesignerTaskMenuExtension));
  }
  // Failures of the windows the verbs open appear in message boxes, unless
  // the application installed a handler of its own.
  if (dynamic_cast<TConsoleApplicationHandler*>(Application().Handler().get()))
    InstallGuiApplicationHandler();
}

// ---- the collection ----

TqOPCDesignerWidgets::TqOPCDesignerWidgets(QObject* parent) : QObject(parent) {
  // In Qt Designer the widget box and the verbs follow the user's language,
  // as Designer's own texts do. Any other program hosting the collection (the
  // tests) decides about translations itself.
  if (QCoreApplication::applicationName() == QLatin1String("Designer"))
    veze6::installTranslations();
  widgets_ << new TqOPCComponentInterface(
      TqOPCServerHost::staticMetaObject, QStringLiteral("OPCServer1"), tr("OPC server component"),
      [](QWidget* p) { return new TqOPCServerHost(p); }, this);
  widgets_ << new TqOPCComponentInterface(
      TqopcServerBrowserHost::staticMetaObject, QStringLiteral("qopcServerBrowser1"),
      tr("OPC server enumeration component"),
      [](QWidget* p) { return new TqopcServerBrowserHost(p); }, this);
  widgets_ << new TqOPCComponentInterface(
      TqOPCGUIHost::staticMetaObject, QStringLiteral("OPCGUI1"), tr("OPC binding component"),
      [](QWidget* p) { return new TqOPCGUIHost(p); }, this);
}

// ---- the form windows ----

namespace {

template <class Host>
QList<Host*> hostsIn(QWidget* widget) {
  QList<Host*> hosts;
  if (!widget) return hosts;
  if (auto* host = qobject_cast<Host*>(widget)) hosts << host;
  hosts << widget->findChildren<Host*>();
  return hosts;
}

}  // namespace

void TqFormWindowWatcher::Watch(QDesignerFormWindowInterface* window) {
  if (window && !window->findChild<TqFormWindowWatcher*>(QString(), Qt::FindDirectChildrenOnly))
    new TqFormWindowWatcher(window);
}

TqFormWindowWatcher::TqFormWindowWatcher(QDesignerFormWindowInterface* window)
    : QObject(window), window_(window) {
  connect(window, &QDesignerFormWindowInterface::mainContainerChanged, this,
          &TqFormWindowWatcher::mainContainerChanged);
  connect(window, &QDesignerFormWindowInterface::widgetRemoved, this,
          &TqFormWindowWatcher::widgetRemoved);
  connect(window, &QDesignerFormWindowInterface::widgetManaged, this,
          &TqFormWindowWatcher::widgetManaged);
  // Every command (a layout among them), its undo and redo.
  if (QUndoStack* history = window->commandHistory())
    connect(history, &QUndoStack::indexChanged, this, &TqFormWindowWatcher::KeepHostsOutOfLayouts);
}

void TqFormWindowWatcher::mainContainerChanged(QWidget* form) {
  // The components join the form in the order of their hosts on it, as a
  // compiled form creates them: that order decides the form's last server.
  const QList<TqComponentHost*> hosts = hostsIn<TqComponentHost>(form);
  for (TqComponentHost* host : hosts)
    if (host->Component() && !host->IsRemoved()) host->Component()->setParent(host);
  for (TqComponentHost* host : hosts)
    if (host->Component() && !host->IsRemoved()) host->Component()->setParent(form);
  for (TqComponentHost* host : hosts)
    if (host->IsDesigning() && !host->IsRemoved()) host->SetDesigning(form);
  KeepHostsOutOfLayouts();
}

void TqFormWindowWatcher::widgetRemoved(QWidget* widget) {
  for (TqComponentHost* host : hostsIn<TqComponentHost>(widget)) host->SetRemoved(true);
  for (TqOPCGUIHost* host : hostsIn<TqOPCGUIHost>(window_->mainContainer()))
    host->FormWidgetRemoved(widget);
}

void TqFormWindowWatcher::widgetManaged(QWidget* widget) {
  for (TqComponentHost* host : hostsIn<TqComponentHost>(widget))
    if (host->IsRemoved()) host->SetRemoved(false);
  for (TqOPCGUIHost* host : hostsIn<TqOPCGUIHost>(window_->mainContainer()))
    host->FormWidgetRestored(widget);
}

void TqFormWindowWatcher::KeepHostsOutOfLayouts() {
  QWidget* form = window_->mainContainer();
  for (TqComponentHost* host : hostsIn<TqComponentHost>(form)) {
    QWidget* container = host->parentWidget();
    QLayout* layout = container ? container->layout() : nullptr;
    if (!layout || layout->indexOf(host) < 0) continue;
    // Through the layout's decoration, as Designer takes a widget out of a
    // layout itself, so that what it saves stays consistent.
    const QRect place = host->geometry();
    auto* decoration = qt_extension<QDesignerLayoutDecorationExtension*>(
        window_->core()->extensionManager(), container);
    if (decoration)
      decoration->removeWidget(host);
    else
      layout->removeWidget(host);
    host->setGeometry(QRect(place.topLeft(), host->sizeHint()));
    host->raise();
    host->show();
  }
}

// ---- the verbs ----

TqOPCTaskMenu::TqOPCTaskMenu(TqComponentHost* host, QObject* parent)
    : QObject(parent), host_(host), verb_(new QAction(this)) {
  if (qobject_cast<TqOPCServerHost*>(host)) {
    verb_->setText(tr("OPC Inspector..."));
    chooseServer_ = new QAction(tr("Choose Server..."), this);
    connect(chooseServer_, &QAction::triggered, this, &TqOPCTaskMenu::chooseServer);
  }
  if (qobject_cast<TqOPCGUIHost*>(host)) verb_->setText(tr("OPC to GUI..."));
  connect(verb_, &QAction::triggered, this, &TqOPCTaskMenu::execute);
}

QList<QAction*> TqOPCTaskMenu::taskActions() const {
  if (chooseServer_) return {verb_, chooseServer_};
  return {verb_};
}

bool TqOPCTaskMenu::HasVerb(const TqComponentHost* host) {
  return qobject_cast<const TqOPCServerHost*>(host) || qobject_cast<const TqOPCGUIHost*>(host);
}

void TqOPCTaskMenu::execute() {
  TqComponentHost* host = host_.data();
  if (!host) return;
  try {
    if (auto* serverHost = qobject_cast<TqOPCServerHost*>(host)) {
      serverHost->EditConnection([serverHost] { OPCExplorer(serverHost->Server()); });
    } else if (auto* guiHost = qobject_cast<TqOPCGUIHost*>(host)) {
      guiHost->PickServer();
      qGUISelectControls(guiHost->GUI());
    } else {
      return;
    }
  } catch (...) {
    // The window refused to open: nothing changed, nothing is stored.
    HandleCurrentException(host);
    return;
  }
  // Whatever the user did in the window, the form is saved again, with the
  // groups, items, server and connection or the bindings the window edited.
  if (qobject_cast<TqOPCServerHost*>(host))
    modified(host, {"Configuration", "ServerName", "Active"});
  else
    modified(host, {"Bindings"});
}

void TqOPCTaskMenu::chooseServer() {
  auto* host = qobject_cast<TqOPCServerHost*>(host_.data());
  if (!host || !host->Server()) return;
  QString computer = host->ComputerName();
  QString server = host->ServerName();
  QString clsId;
  try {
    if (!qopcBrowseServer(computer, server, clsId)) return;
  } catch (...) {
    HandleCurrentException(host);
    return;
  }
  // Through the cursor: undoable, shown and saved like a typed value.
  QDesignerFormWindowInterface* window = QDesignerFormWindowInterface::findFormWindow(host);
  if (window && window->cursor()) {
    window->cursor()->setWidgetProperty(host, QStringLiteral("ComputerName"), computer);
    window->cursor()->setWidgetProperty(host, QStringLiteral("ServerName"), server);
  } else {
    host->setComputerName(computer);
    host->setServerName(server);
  }
}

void TqOPCTaskMenu::modified(QWidget* host, std::initializer_list<const char*> properties) {
  for (const char* name : properties) storeProperty(host, name);
  if (QDesignerFormWindowInterface* window = QDesignerFormWindowInterface::findFormWindow(host))
    window->setDirty(true);
}

void TqOPCTaskMenu::storeProperty(QWidget* host, const char* name) {
  QDesignerFormWindowInterface* window = QDesignerFormWindowInterface::findFormWindow(host);
  if (!window || !window->cursor()) return;
  // Designer saves only properties it counts as changed, and its property
  // sheet shows what it last set. Setting the value the host holds now
  // through the cursor does both (the host takes an equal value as no
  // change) and puts the step on the form's undo stack.
  window->cursor()->setWidgetProperty(host, QLatin1String(name), host->property(name));
}

TqOPCTaskMenuFactory::TqOPCTaskMenuFactory(QExtensionManager* parent) : QExtensionFactory(parent) {}

QObject* TqOPCTaskMenuFactory::createExtension(QObject* object, const QString& iid,
                                               QObject* parent) const {
  if (iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
  auto* host = qobject_cast<TqComponentHost*>(object);
  if (!host || !TqOPCTaskMenu::HasVerb(host)) return nullptr;
  return new TqOPCTaskMenu(host, parent);
}
