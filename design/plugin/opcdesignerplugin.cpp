#include "opcdesignerplugin.h"

#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowCursorInterface>
#include <QDesignerFormWindowInterface>
#include <QExtensionManager>
#include <QMetaProperty>
#include <QPainter>
#include <QPixmap>
#include <exception>

#include "core/application.h"
#include "design/qOPCGUIDlg.h"
#include "design/qOPCPropEdit.h"
#include "design/tqcomponenthost.h"
#include "dialogs/tguiapplicationhandler.h"

namespace {

// The designed form a new host belongs to: the form window's main
// container, or, while a form is being loaded (not yet in its window), the
// top of the parent chain.
QWidget* designedForm(QWidget* parent) {
  if (!parent) return nullptr;
  if (QDesignerFormWindowInterface* window = QDesignerFormWindowInterface::findFormWindow(parent)) {
    if (QWidget* form = window->mainContainer()) return form;
  }
  return parent->window();
}

}  // namespace

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
  if (inDesigner_) host->SetDesigning(designedForm(parent));
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

// ---- the verbs ----

TqOPCTaskMenu::TqOPCTaskMenu(TqComponentHost* host, QObject* parent)
    : QObject(parent), host_(host), verb_(new QAction(this)) {
  if (qobject_cast<TqOPCServerHost*>(host)) verb_->setText(tr("OPC Inspector..."));
  if (qobject_cast<TqOPCGUIHost*>(host)) verb_->setText(tr("OPC to GUI..."));
  connect(verb_, &QAction::triggered, this, &TqOPCTaskMenu::execute);
}

bool TqOPCTaskMenu::HasVerb(const TqComponentHost* host) {
  return qobject_cast<const TqOPCServerHost*>(host) || qobject_cast<const TqOPCGUIHost*>(host);
}

void TqOPCTaskMenu::execute() {
  TqComponentHost* host = host_.data();
  if (!host) return;
  try {
    if (auto* serverHost = qobject_cast<TqOPCServerHost*>(host)) {
      OPCExplorer(serverHost->Server());
    } else if (auto* guiHost = qobject_cast<TqOPCGUIHost*>(host)) {
      guiHost->PickServer();
      qGUISelectControls(guiHost->GUI());
    } else {
      return;
    }
  } catch (const std::exception& e) {
    // The window refused to open: nothing changed, the form stays clean.
    Application().HandleException(host, e);
    return;
  }
  // Whatever the user did in the window, the form is saved again, with the
  // groups and items or the bindings the window edited.
  storeProperty(host, qobject_cast<TqOPCServerHost*>(host) ? "Configuration" : "Bindings");
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
