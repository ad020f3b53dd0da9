#include <QBuffer>
#include <QMetaMethod>
#include <QScopeGuard>
#include <QTimer>
#include <exception>

#include "core/application.h"
#include "core/componentreader.h"
#include "core/componentwriter.h"
#include "core/exceptions.h"
#include "core/tqdefaultgroup.h"
#include "tqcomponenthost.h"

TqOPCServerHost::TqOPCServerHost(QWidget* parent) : TqComponentHost(parent) {
  Adopt(new TqOPCServer(Form() ? static_cast<QObject*>(Form()) : this));
}

namespace {

// A host signal and the component's signal it passes on.
template <class... Args>
struct SignalPair {
  void (TqOPCServerHost::*host)(Args...);
  void (TqOPCServer::*server)(Args...);
};

}  // namespace

void TqOPCServerHost::connectNotify(const QMetaMethod& signal) { updateForwarding(signal); }

void TqOPCServerHost::disconnectNotify(const QMetaMethod& signal) { updateForwarding(signal); }

void TqOPCServerHost::updateForwarding(const QMetaMethod& signal) {
  int index = 0;
  // Only while someone listens: a host always connected to writeError would
  // silence the component's "cannot write Items:" report on every form.
  const auto pass = [&](auto pair) {
    const int slot = index++;
    if (signal != QMetaMethod::fromSignal(pair.host)) return;
    QMetaObject::Connection& forward = forwards_[slot];
    const bool wanted = isSignalConnected(signal) && Server();
    if (wanted && !forward) {
      // Direct: a list argument is valid only during the emission.
      forward = connect(Server(), pair.server, this, pair.host, Qt::DirectConnection);
    } else if (!wanted && forward) {
      disconnect(forward);
      forward = {};
    }
  };
  pass(SignalPair<>{&TqOPCServerHost::connected, &TqOPCServer::connected});
  pass(SignalPair<>{&TqOPCServerHost::disconnected, &TqOPCServer::disconnected});
  pass(SignalPair<const QString&, bool>{&TqOPCServerHost::error, &TqOPCServer::error});
  pass(SignalPair<const QString&>{&TqOPCServerHost::serverShutdown, &TqOPCServer::serverShutdown});
  pass(SignalPair<TqOPCItemList*>{&TqOPCServerHost::dataChanged, &TqOPCServer::dataChanged});
  pass(SignalPair<TqOPCItemList*>{&TqOPCServerHost::writeComplete, &TqOPCServer::writeComplete});
  pass(SignalPair<TqOPCItemList*>{&TqOPCServerHost::writeError, &TqOPCServer::writeError});
  static_assert(kForwardedSignals == 7);
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
bool TqOPCServerHost::AutoReconnect() const { return Server() && Server()->AutoReconnect(); }
void TqOPCServerHost::setAutoReconnect(bool value) {
  if (Server()) Server()->SetAutoReconnect(value);
}
QString TqOPCServerHost::Version() const { return Server() ? Server()->Version() : QString(); }
void TqOPCServerHost::setVersion(const QString& value) {
  if (Server()) Server()->SetVersion(value);
}

bool TqOPCServerHost::OPCGroupDefaultIsActive() const {
  return Server() && Server()->OPCGroupDefault()->IsActive;
}
void TqOPCServerHost::setOPCGroupDefaultIsActive(bool value) {
  if (Server()) Server()->OPCGroupDefault()->IsActive = value;
}
int TqOPCServerHost::OPCGroupDefaultUpdateRate() const {
  return Server() ? Server()->OPCGroupDefault()->UpdateRate : 0;
}
void TqOPCServerHost::setOPCGroupDefaultUpdateRate(int value) {
  if (Server()) Server()->OPCGroupDefault()->UpdateRate = value;
}
double TqOPCServerHost::OPCGroupDefaultDeadBand() const {
  return Server() ? Server()->OPCGroupDefault()->DeadBand : 0.0;
}
void TqOPCServerHost::setOPCGroupDefaultDeadBand(double value) {
  if (Server()) Server()->OPCGroupDefault()->DeadBand = float(value);
}
int TqOPCServerHost::OPCGroupDefaultLocaleId() const {
  return Server() ? Server()->OPCGroupDefault()->LocaleId : 0;
}
void TqOPCServerHost::setOPCGroupDefaultLocaleId(int value) {
  if (Server()) Server()->OPCGroupDefault()->LocaleId = value;
}
int TqOPCServerHost::OPCGroupDefaultTimeBias() const {
  return Server() ? Server()->OPCGroupDefault()->TimeBias : 0;
}
void TqOPCServerHost::setOPCGroupDefaultTimeBias(int value) {
  if (Server()) Server()->OPCGroupDefault()->TimeBias = value;
}

bool TqOPCServerHost::Active() const {
  TqOPCServer* server = Server();
  return server && (server->Active() || (IsDesigning() && designedActive_));
}

void TqOPCServerHost::setActive(bool value) {
  TqOPCServer* server = Server();
  if (!server) return;
  if (IsDesigning()) {
    // The designer never connects for a designed value; switching it off
    // also ends a connection made there.
    designedActive_ = value;
    if (value) return;
  }
  auto apply = [this, value] {
    TqOPCServer* component = Server();
    if (!component || component->Active() == value) return;
    try {
      component->SetActive(value);
    } catch (...) {
      // uic's generated code must not see an exception.
      HandleCurrentException(component);
    }
  };
  // uic sets the texts to be translated (the configuration, the server's
  // name) at the end of setupUi, after this: the form is complete on the
  // next event-loop turn.
  if (value && server->ServerName().isEmpty())
    QTimer::singleShot(0, this, apply);
  else
    apply();
}

void TqOPCServerHost::EditConnection(const std::function<void()>& window) {
  TqOPCServer* server = Server();
  if (!server) return window();
  // The window's own connect and disconnect pass through these, and the
  // handlers found are given back however it ends.
  bool decided = false;
  const TOnOPCConnectEvent onConnect = server->OnConnect;
  const TOnOPCConnectEvent onDisconnect = server->OnDisconnect;
  server->OnConnect = [&decided, onConnect](QObject* sender) {
    decided = true;
    if (onConnect) onConnect(sender);
  };
  server->OnDisconnect = [&decided, onDisconnect](QObject* sender) {
    decided = true;
    if (onDisconnect) onDisconnect(sender);
  };
  QPointer<TqOPCServer> guard(server);
  const auto giveBack = qScopeGuard([&] {
    if (!guard) return;
    guard->OnConnect = onConnect;
    guard->OnDisconnect = onDisconnect;
  });
  window();
  if (decided) designedActive_ = false;
}
