#include "tqcomponenthost.h"

#include <QPainter>

TqComponentHost::TqComponentHost(QWidget* parent) : QWidget(parent) {
  form_ = parent ? parent->window() : nullptr;
  // At run time the host is no control of the form: hidden, it takes no
  // room in a layout.
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  hide();
  connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
    if (component_) component_->SetName(name);
  });
}

TqComponentHost::~TqComponentHost() { delete component_.data(); }

void TqComponentHost::Adopt(TComponent* component) {
  component_ = component;
  component->SetName(objectName());
}

void TqComponentHost::SetDesigning(QWidget* form) {
  designing_ = true;
  form_ = form;
  if (component_) {
    if (form && component_->parent() != form) component_->setParent(form);
    component_->SetDesigning(true);
  }
  Designing();
  setFixedSize(sizeHint());
  show();
}

bool TqComponentHost::IsDesignerForm(const QWidget* widget) {
  if (!widget) return false;
  const QList<TqComponentHost*> hosts = widget->findChildren<TqComponentHost*>();
  for (const TqComponentHost* host : hosts)
    if (host->IsDesigning() && host->Form() == widget) return true;
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

// ---- the server component ----

TqOPCServerHost::TqOPCServerHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqOPCServer(Form() ? static_cast<QObject*>(Form()) : this));
}

TqOPCServer* TqOPCServerHost::Server() const { return qobject_cast<TqOPCServer*>(Component()); }

QString TqOPCServerHost::ServerName() const {
  return Server() ? Server()->ServerName() : QString();
}
void TqOPCServerHost::SetServerName(const QString& value) {
  if (Server()) Server()->SetServer(value);
}
QString TqOPCServerHost::ComputerName() const {
  return Server() ? Server()->ComputerName() : QString();
}
void TqOPCServerHost::SetComputerName(const QString& value) {
  if (Server()) Server()->SetComputername(value);
}
QString TqOPCServerHost::ClientName() const {
  return Server() ? Server()->ClientName() : QString();
}
void TqOPCServerHost::SetClientName(const QString& value) {
  if (Server()) Server()->SetClientName(value);
}
bool TqOPCServerHost::BatchMode() const { return Server() && Server()->BatchMode(); }
void TqOPCServerHost::SetBatchMode(bool value) {
  if (Server()) Server()->SetBatchMode(value);
}
int TqOPCServerHost::ConnectDelay() const { return Server() ? Server()->ConnectDelay() : 0; }
void TqOPCServerHost::SetConnectDelay(int value) {
  if (Server()) Server()->SetConnectDelay(value);
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
void TqopcServerBrowserHost::SetComputerName(const QString& value) {
  if (Browser()) Browser()->SetComputerName(value);
}

// ---- the binding component ----

TqOPCGUIHost::TqOPCGUIHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqOPCGUI(Form() ? static_cast<QObject*>(Form()) : this));
}

TqOPCGUI* TqOPCGUIHost::GUI() const { return qobject_cast<TqOPCGUI*>(Component()); }

void TqOPCGUIHost::PickServer() {
  // As the binding component's constructor takes it from its form.
  TqOPCGUI* gui = GUI();
  if (!gui || gui->OPCServer() || !Form()) return;
  TqOPCServer* last = nullptr;
  for (QObject* child : Form()->children())
    if (auto* server = qobject_cast<TqOPCServer*>(child)) last = server;
  if (last) gui->SetOPCServer(last);
}
