#include "tqcomponenthost.h"

#include <QDockWidget>
#include <QGroupBox>
#include <QMainWindow>
#include <QMdiArea>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBox>

namespace {

// A widget uic creates inside a form to hold other widgets: Qt's own
// containers (exactly; a class derived from one is a form class), and a
// plain page inside one of them or in a main window. A designed panel of a
// class of its own is never one, wherever it is put.
bool isFormPart(const QWidget* widget) {
  const QMetaObject* meta = widget->metaObject();
  for (const QMetaObject* container :
       {&QGroupBox::staticMetaObject, &QFrame::staticMetaObject, &QScrollArea::staticMetaObject,
        &QToolBox::staticMetaObject, &QStackedWidget::staticMetaObject,
        &QTabWidget::staticMetaObject, &QDockWidget::staticMetaObject, &QMdiArea::staticMetaObject})
    if (meta == container) return true;
  if (meta != &QWidget::staticMetaObject) return false;
  const QWidget* up = widget->parentWidget();
  return up && (qobject_cast<const QStackedWidget*>(up) || qobject_cast<const QMainWindow*>(up) ||
                qobject_cast<const QDockWidget*>(up) ||
                up->objectName() == QLatin1String("qt_scrollarea_viewport"));
}

}  // namespace

TqComponentHost::TqComponentHost(QWidget* parent) : QWidget(parent) {
  form_ = FormFor(parent);
  // At run time the host is no control of the form: hidden, it takes no
  // room in a layout.
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  hide();
  connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
    if (component_) component_->SetName(name);
  });
}

TqComponentHost::~TqComponentHost() { delete component_.data(); }

QWidget* TqComponentHost::FormFor(QWidget* parent) {
  for (QWidget* widget = parent; widget; widget = widget->parentWidget())
    if (widget->isWindow() || !isFormPart(widget)) return widget;
  return nullptr;
}

void TqComponentHost::Adopt(TComponent* component) {
  component_ = component;
  component->SetName(objectName());
}

void TqComponentHost::SetDesigning(QWidget* form) {
  designing_ = true;
  if (form) form_ = form;
  if (component_) {
    if (form_ && !removed_ && component_->parent() != form_) component_->setParent(form_);
    component_->SetDesigning(true);
  }
  Designing();
  setFixedSize(sizeHint());
  show();
}

void TqComponentHost::SetRemoved(bool removed) {
  removed_ = removed;
  if (!component_) return;
  QObject* owner = removed || !form_ ? static_cast<QObject*>(this) : form_.data();
  if (component_->parent() != owner) component_->setParent(owner);
}

bool TqComponentHost::IsHostForm(const QWidget* widget) {
  if (!widget) return false;
  const QList<TqComponentHost*> hosts = widget->findChildren<TqComponentHost*>();
  for (const TqComponentHost* host : hosts)
    if (host->Form() == widget && !host->IsRemoved()) return true;
  return false;
}

QSize TqComponentHost::sizeHint() const { return {32, 32}; }

void TqComponentHost::paintEvent(QPaintEvent*) {
  // A framed tile with the component's class initials: enough to pick it
  // out on the form and select it.
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF tile = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(palette().color(QPalette::Mid));
  painter.setBrush(palette().color(QPalette::Button));
  painter.drawRoundedRect(tile, 4, 4);
  painter.setPen(palette().color(QPalette::ButtonText));
  QFont font = painter.font();
  font.setPixelSize(10);
  font.setBold(true);
  painter.setFont(font);
  QString label = QStringLiteral("OPC");
  if (component_) {
    const QString cls = QLatin1String(component_->metaObject()->className());
    if (cls == QLatin1String("TqOPCGUI"))
      label = QStringLiteral("GUI");
    else if (cls == QLatin1String("TqopcServerBrowser"))
      label = QStringLiteral("SRV");
  }
  painter.drawText(rect(), Qt::AlignCenter, label);
}

// ---- the server enumeration component ----

TqopcServerBrowserHost::TqopcServerBrowserHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqopcServerBrowser(Form() ? static_cast<QObject*>(Form()) : this));
}

TqopcServerBrowser* TqopcServerBrowserHost::Browser() const {
  return qobject_cast<TqopcServerBrowser*>(Component());
}
QString TqopcServerBrowserHost::ComputerName() const {
  return Browser() ? Browser()->ComputerName() : QString();
}
void TqopcServerBrowserHost::setComputerName(const QString& value) {
  if (Browser()) Browser()->SetComputerName(value);
}
tqopcServerSet TqopcServerBrowserHost::Servertype() const {
  return Browser() ? Browser()->Servertype() : tqopcServerSet();
}
void TqopcServerBrowserHost::setServertype(tqopcServerSet value) {
  if (Browser()) Browser()->SetServertype(value);
}
