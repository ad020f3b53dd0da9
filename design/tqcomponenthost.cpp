#include "tqcomponenthost.h"

#include <QBuffer>
#include <QPainter>
#include <QScopeGuard>
#include <QTimer>
#include <exception>

#include "core/application.h"
#include "core/componentreader.h"
#include "core/componentwriter.h"
#include "core/exceptions.h"
#include "design/tqguiselectform.h"

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

namespace {

// Sets the stored value of Active without connecting or disconnecting: while
// loading the component only stores it.
void storeActive(TqOPCServer& server, bool value) {
  server.SetLoading(true);
  server.SetActive(value);
  server.SetLoading(false);
}

}  // namespace

QString TqOPCServerHost::Configuration() const {
  TqOPCServer* server = Server();
  if (!server) return {};
  // The designed Active = True is written as the form said it, although the
  // designer did not connect.
  const bool designed = designedActive_ && IsDesigning() && !server->Active();
  try {
    if (designed) storeActive(*server, true);
    QByteArray text = ComponentToText(*server);
    if (designed) storeActive(*server, false);
    // Lines end in LF in a form file, as everywhere else in it.
    return QString::fromUtf8(text.replace("\r\n", "\n"));
  } catch (const std::exception& e) {
    if (designed) storeActive(*server, false);
    Application().HandleException(server, e);
    return {};
  }
}

void TqOPCServerHost::setConfiguration(const QString& text) {
  TqOPCServer* server = Server();
  if (!server || text.isEmpty()) return;
  // Designer writes the value back after a verb, and uic's retranslation
  // sets it again: the text the component already holds is not reloaded
  // (which would disconnect it).
  if (QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) == Configuration())
    return;
  try {
    const QByteArray bytes = text.toUtf8();
    if (!IsDesigning()) {
      QBuffer buffer;
      buffer.setData(bytes);
      buffer.open(QIODevice::ReadOnly);
      designedActive_ = false;
      // The component keeps the host's name whatever the text's header says.
      const auto keepName = qScopeGuard([this, server] { server->SetName(objectName()); });
      server->LoadFromStream(buffer);
      return;
    }
    // In the designer the stream's sequence without its connect: Loaded
    // would connect a component read as active.
    TComponentReader reader(bytes);
    reader.Check();  // malformed text changes nothing
    server->SetActive(false);
    try {
      reader.ReadProperties(*server);
    } catch (...) {
      storeActive(*server, false);
      designedActive_ = false;
      server->Loaded();
      throw;
    }
    designedActive_ = server->Active();
    storeActive(*server, false);
    server->Loaded();
  } catch (const std::exception& e) {
    // uic's generated code must not see an exception; the host stays usable.
    Application().HandleException(server, e);
  }
}

QString TqOPCServerHost::ServerName() const {
  return Server() ? Server()->ServerName() : QString();
}
void TqOPCServerHost::setServerName(const QString& value) {
  if (Server()) Server()->SetServer(value);
}
QString TqOPCServerHost::ComputerName() const {
  return Server() ? Server()->ComputerName() : QString();
}
void TqOPCServerHost::setComputerName(const QString& value) {
  if (Server()) Server()->SetComputername(value);
}
QString TqOPCServerHost::ClientName() const {
  return Server() ? Server()->ClientName() : QString();
}
void TqOPCServerHost::setClientName(const QString& value) {
  if (Server()) Server()->SetClientName(value);
}
bool TqOPCServerHost::BatchMode() const { return Server() && Server()->BatchMode(); }
void TqOPCServerHost::setBatchMode(bool value) {
  if (Server()) Server()->SetBatchMode(value);
}
int TqOPCServerHost::ConnectDelay() const { return Server() ? Server()->ConnectDelay() : 0; }
void TqOPCServerHost::setConnectDelay(int value) {
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
void TqopcServerBrowserHost::setComputerName(const QString& value) {
  if (Browser()) Browser()->SetComputerName(value);
}

// ---- the binding component ----

TqOPCGUIHost::TqOPCGUIHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqOPCGUI(Form() ? static_cast<QObject*>(Form()) : this));
  // The form is complete on the first turn: its server is linked then.
  scheduleResolve();
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

QString TqOPCGUIHost::EncodeBinding(const QString& control, const QString& property,
                                    const QString& group, const QString& item) {
  QString entry;
  for (const QString* field : {&control, &property, &group, &item}) {
    if (field != &control) entry += u'|';
    for (const QChar c : *field) {
      if (c == u'|' || c == u'\\') entry += u'\\';
      entry += c;
    }
  }
  return entry;
}

bool TqOPCGUIHost::DecodeBinding(const QString& entry, QStringList& fields) {
  fields = QStringList{QString()};
  for (qsizetype i = 0; i < entry.size(); ++i) {
    const QChar c = entry[i];
    if (c == u'\\') {
      if (i + 1 == entry.size() || (entry[i + 1] != u'|' && entry[i + 1] != u'\\')) return false;
      fields.last() += entry[++i];
    } else if (c == u'|') {
      fields << QString();
    } else {
      fields.last() += c;
    }
  }
  return fields.size() == 4;
}

QStringList TqOPCGUIHost::Bindings() const {
  QStringList entries;
  if (TqOPCGUI* gui = GUI()) {
    TqGUIItems* items = gui->Items();
    for (int i = 0; i < items->Count(); ++i) {
      TqGUIItem* binding = items->Items(i);
      QWidget* control = binding->Control();
      if (!control || control->objectName().isEmpty()) continue;
      entries << EncodeBinding(control->objectName(), binding->CtrlPropName(), binding->OPCGroup(),
                               binding->OPCItem());
    }
  }
  for (const QStringList& fields : pending_)
    entries << EncodeBinding(fields[0], fields[1], fields[2], fields[3]);
  return entries;
}

void TqOPCGUIHost::setBindings(const QStringList& entries) {
  TqOPCGUI* gui = GUI();
  if (!gui || entries == Bindings()) return;
  gui->Items()->Clear();
  pending_.clear();
  for (const QString& entry : entries) {
    QStringList fields;
    if (DecodeBinding(entry, fields))
      pending_ << fields;
    else
      Application().HandleException(
          gui, Exception(QStringLiteral("%1: malformed binding \"%2\"").arg(objectName(), entry)));
  }
  scheduleResolve();
}

void TqOPCGUIHost::scheduleResolve() {
  if (resolveScheduled_) return;
  resolveScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    resolveScheduled_ = false;
    ResolveBindings();
  });
}

void TqOPCGUIHost::ResolveBindings() {
  TqOPCGUI* gui = GUI();
  if (!gui) return;
  if (!pending_.isEmpty()) {
    const QList<QWidget*> controls = TqGUISelectForm::FormControls(Form());
    QList<QStringList> waiting;
    for (const QStringList& fields : std::as_const(pending_)) {
      QWidget* control = nullptr;
      for (QWidget* candidate : controls) {
        if (candidate->objectName() == fields[0]) {
          control = candidate;
          break;
        }
      }
      if (!control) {
        waiting << fields;
        continue;
      }
      try {
        gui->AddItem(fields[2], fields[3], control, fields[1]);
      } catch (const std::exception& e) {
        Application().HandleException(gui, e);
      }
    }
    pending_ = waiting;
    for (const QStringList& fields : std::as_const(pending_))
      Application().HandleException(
          gui, Exception(QStringLiteral("%1: no control \"%2\" on the form for a binding")
                             .arg(objectName(), fields[0])));
  }
  if (IsDesigning()) return;
  // A form built by uic never assigns OPCServer, which is what hooks the
  // server: the link the constructor stored (or a server created after the
  // binding component) is assigned now, linking every binding.
  try {
    TqOPCServer* server = gui->OPCServer();
    if (!server)
      PickServer();
    else if (!gui->Hooked())
      gui->SetOPCServer(server);
  } catch (const std::exception& e) {
    Application().HandleException(gui, e);
  }
}
