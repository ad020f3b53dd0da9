#include "tqopcserver.h"

#include <QMetaMethod>
#include <QPointer>
#include <climits>
#include <exception>
#include <mutex>
#include <thread>

#include "application.h"
#include "coopcserver.h"
#include "format.h"
#include "opc/classregistry.h"
#include "opc/endpointclasses.h"
#include "opc/taskmem.h"
#include "owningthread_p.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopclogging.h"
#include "qopcstrings.h"
#include "qtapartment.h"
#include "tqopcbrowser.h"
#include "tqopcgroup.h"
#include "tqopcitemlist.h"
#include "tqopcitems.h"
#include "tqopcitemupdater_p.h"
#include "tqopcshutdownevent.h"

namespace {

std::mutex g_sleepMutex;
TqOPCServer::SleepFunction g_sleep;

void connectDelaySleep(std::chrono::milliseconds delay) {
  TqOPCServer::SleepFunction sleep;
  {
    std::lock_guard lock(g_sleepMutex);
    sleep = g_sleep;
  }
  if (sleep)
    sleep(delay);
  else
    std::this_thread::sleep_for(delay);
}

}  // namespace

TqOPCServer::SleepFunction TqOPCServer::SetSleepFunction(SleepFunction sleep) {
  std::lock_guard lock(g_sleepMutex);
  std::swap(g_sleep, sleep);
  return sleep;
}

TqOPCServer::TqOPCServer(QObject* owner) : TComponent(owner) {
  installQtApartment();
  browser_ = std::make_unique<TqOPCBrowser>();
  groups_ = std::make_unique<TqOPCGroups>(this);
  groupDefault_ = std::make_unique<TqDefaultGroup>(this);
}

TqOPCServer::~TqOPCServer() {
  Destroying();
  // Messages still queued are dropped with the window (their lists freed),
  // and nothing can post any more.
  {
    std::lock_guard lock(windowMutex_);
    windowClosed_.store(true, std::memory_order_release);
    windowHandle_.store(nullptr, std::memory_order_release);
    window_.reset();
  }
  OnDisconnect = nullptr;  // no disconnect event while destroying
  try {
    SetActive(false);
    // Still held while loading (SetActive only stores then): a server
    // keeping the shutdown callback must not reach a destroyed component.
    if (server_ || shutdownEvent_) RemoveServerInterface();
  } catch (...) {
    // Nobody can catch it from a destructor; the application shows it.
    HandleCurrentException(nullptr);
  }
  groupDefault_.reset();
  browser_.reset();
  groups_.reset();
}

QString TqOPCServer::Version() const { return QStringLiteral("1.40"); }

// An OnDisconnect handler may destroy the component (closing its form):
// nothing is stored then.
void TqOPCServer::SetComputername(const QString& value) {
  if (value == computerName_) return;
  const QPointer<TqOPCServer> alive(this);
  if (!IsLoading()) SetActive(false);
  if (alive) computerName_ = value;
}

void TqOPCServer::SetServer(const QString& value) {
  if (value == serverName_) return;
  const QPointer<TqOPCServer> alive(this);
  if (!IsLoading()) SetActive(false);
  if (alive) serverName_ = value;
}

void TqOPCServer::SetActive(bool value) {
  VEZE6_ASSERT_OWNING_THREAD(this);
  // The application decides now: no retry may undo what it chose.
  ++choices_;
  if (reconnecting_) {
    const QPointer<TqOPCServer> alive(this);
    stopReconnect();
    if (!alive) return;  // a receiver of reconnectingChanged destroyed it
  }
  setActive(value);
}

void TqOPCServer::setActive(bool value) {
  if (IsLoading()) {
    active_ = value;
    return;
  }
  if (value == active_) return;
  if (value)
    connectSequence();
  else
    disconnectSequence();
}

void TqOPCServer::Loaded() {
  TComponent::Loaded();
  if (IsDesigning()) batchMode_ = false;
  if (active_) {
    active_ = false;
    SetActive(true);
  }
}

void TqOPCServer::Connect(const QString& serverName, const QString& computerName) {
  const QPointer<TqOPCServer> alive(this);
  SetActive(false);
  if (alive) SetServer(serverName);
  if (alive) SetComputername(computerName);
  if (alive) SetActive(true);
}

void TqOPCServer::Disconnect() { SetActive(false); }

void TqOPCServer::connectSequence() {
  if (makeConnection()) announceConnection();
}

bool TqOPCServer::makeConnection() {
  // Nothing of an earlier connection remains.
  RemoveServerInterface();

  // Resolve the class id: a registered ProgID, else a class id in braces, else
  // the URL of a server reached through a registered endpoint scheme. A name
  // with an embedded zero would be cut short by the lookups; it names nothing.
  CLSID clsid{};
  const opc::Bstr name = TextToWide(serverName_);
  const bool valid = !serverName_.contains(QChar(u'\0'));
  bool resolved = valid && (SUCCEEDED(CLSIDFromProgID(name.get(), &clsid)) ||
                            SUCCEEDED(CLSIDFromString(name.get(), &clsid)));
  const bool url = valid && !resolved && opc::isEndpointUrl(serverName_.trimmed().toStdString());
  // A server registered only on the other computer is known by its server list.
  if (valid && !resolved && !url && !computerName_.trimmed().isEmpty())
    resolved = CoOPCServer::ResolveOnComputer(serverName_, computerName_, clsid);
  if (!resolved && !url) {
    Fault(_STR_NOServer());
    return false;
  }

  // Create the server object; creation errors reach the caller unchanged.
  // A URL names its host itself: the computer name plays no part.
  server_ = url ? CoOPCServer::CreateForEndpoint(serverName_.trimmed())
                : CoOPCServer::Create(clsid, computerName_);
  qCDebug(lcOpc) << "created server" << serverName_ << "on" << computerName_;

  // Connect delay: servers that must set up items get time to settle first.
  if (ItemsExists() && connectDelay_ > 0)
    connectDelaySleep(std::chrono::milliseconds(connectDelay_));

  // No server object: the connection fails, naming the server.
  if (!server_) {
    Fault(Format(_STR_NOCONNECT(), {serverName_}));
    return false;
  }

  // Count a new connection: shutdown requests queued for an earlier one are stale.
  active_ = true;
  if (++connection_ == 0) connection_ = 1;
  // The browser follows the new server.
  bindBrowser();
  // Advise the shutdown callback: the server's shutdown requests reach the component.
  adviseShutdownCallback();
  // The optional interfaces: common (locale, client name) and item properties.
  GetCommonIF();
  GetItemPropIF();
  // Tell the server the client name as entered, unless blank; the server's answer does not matter.
  if (common_ && !clientName_.trimmed().isEmpty())
    common_->SetClientName(TextToWide(clientName_).get());
  // The groups and items the component holds are created on the server.
  createGroupsOnServer();
  return true;
}

void TqOPCServer::announceConnection() {
  // The application hears of the connection; its handler may destroy the component.
  const QPointer<TqOPCServer> alive(this);
  OnConnect(this);
  if (!alive) return;  // the handler destroyed the component
  // Connected unless the handler disconnected.
  active_ = server_ != nullptr;
  emit connected();
}

void TqOPCServer::disconnectSequence() {
  active_ = false;
  RemoveServerInterface();
  const QPointer<TqOPCServer> alive(this);
  OnDisconnect(this);
  if (!alive) return;  // the handler destroyed the component
  // Disconnected unless the handler connected again.
  active_ = server_ != nullptr;
  // The destructor's disconnect is silent, as it is for the field.
  if (!IsDestroying()) emit disconnected();
}

void TqOPCServer::bindBrowser() { browser_->SetOPCServer(this); }

void TqOPCServer::unbindBrowser() {
  if (browser_) browser_->SetOPCServer(nullptr);
}

void TqOPCServer::adviseShutdownCallback() { shutdownEvent_ = TqOPCShutdownEvent::Create(this); }

// While the server is still held: a server that keeps the callback after the
// client let go must not reach this component later.
void TqOPCServer::releaseShutdownCallback() {
  if (!shutdownEvent_) return;
  const ComPtr<TqOPCShutdownEvent> event = std::move(shutdownEvent_);
  event->Detach();
}

void TqOPCServer::createGroupsOnServer() { groups_->CreateAllOPCGroups(); }

// While the server is still held.
void TqOPCServer::removeGroupsFromServer() {
  if (groups_) groups_->RemoveAllOPCGroups();
}

void TqOPCServer::RemoveServerInterface() {
  // Every step runs whatever an earlier one raised, so that the component
  // never reads disconnected while still holding the server; the first
  // failure is raised at the end.
  std::exception_ptr failure;
  const auto step = [&failure](auto&& run) {
    try {
      run();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  step([this] { releaseShutdownCallback(); });
  common_.reset();
  itemProperties_.reset();
  step([this] { removeGroupsFromServer(); });
  step([this] { unbindBrowser(); });
  server_.reset();
  if (failure) std::rethrow_exception(failure);
}

bool TqOPCServer::CheckServer() {
  if (server_) return true;
  Fault(_STR_NOTACTIVE());
  return false;
}

ComPtr<IOPCServer> TqOPCServer::GetOPCServer() {
  CheckServer();
  return server_;
}

ComPtr<IOPCCommon> TqOPCServer::GetCommonIF() {
  if (CheckServer() && !common_) server_.as(common_);
  return common_;
}

ComPtr<IOPCItemProperties> TqOPCServer::GetItemPropIF() {
  if (CheckServer() && !itemProperties_) server_.as(itemProperties_);
  return itemProperties_;
}

bool TqOPCServer::Version2() {
  if (!server_) return false;
  ComPtr<IConnectionPointContainer> container;
  return SUCCEEDED(server_.as(container)) && container;
}

bool TqOPCServer::ItemsExists() const {
  for (TCollectionItem* group : *groups_)
    if (static_cast<TqOPCGroup*>(group)->OPCItems()->Count() > 0) return true;
  return false;
}

int TqOPCServer::GetGroupCount() const { return groups_->Count(); }

qint32 TqOPCServer::GetLocaleId() {
  if (!common_) throw EOPCException(_STR_NOTACTIVE());
  LCID lcid = 0;
  CheckCall(common_->GetLocaleID(&lcid));
  return qint32(lcid);
}

void TqOPCServer::SetLocaleId(qint32 value) {
  if (common_) common_->SetLocaleID(LCID(value));
}

void TqOPCServer::Fault(const QString& errorString) {
  // A retry of an outage already reported fails without telling anyone.
  if (quietFaults_) throw EOPCException(errorString);
  bool raiseException = true;
  const QPointer<TqOPCServer> alive(this);
  OnError(this, errorString, raiseException);
  // A handler (or receiver) that destroyed the component leaves the caller
  // nothing to go on with: the operation ends by the exception.
  if (!alive) throw EOPCException(errorString);
  emit error(errorString, raiseException);
  if (!alive) raiseException = true;
  if (raiseException) throw EOPCException(errorString);
}

void TqOPCServer::NoteCallResult(HRESULT code) {
  const bool lost = code == RPC_E_DISCONNECTED || code == RPC_E_TIMEOUT ||
                    code == HRESULT_RPC_S_SERVER_UNAVAILABLE || code == HRESULT_RPC_S_CALL_FAILED;
  if (!lost || !server_) return;
  qCInfo(lcOpc) << "connection to" << serverName_ << "lost: a call failed with" << Qt::hex
                << quint32(code);
  // Tagged with this connection: once it has ended, further losses noted
  // for it are dropped.
  PostMessage(GetHandle(), CM_OPCSHUTDOWN, connection_, 0);
}

void TqOPCServer::CheckCall(HRESULT code) {
  NoteCallResult(code);
  OPCCheck(code);
}

QString TqOPCServer::GetErrorString(HRESULT code) {
  if (!CheckServer()) return {};
  opc::TaskString text;
  if (FAILED(server_->GetErrorString(code, 0, text.put()))) return {};
  return WideToText(text.get());
}

// ---- callback messages -------------------------------------------------------

HWND TqOPCServer::GetHandle() {
  if (HWND handle = windowHandle_.load(std::memory_order_acquire)) return handle;
  std::lock_guard lock(windowMutex_);
  if (windowClosed_.load(std::memory_order_acquire)) return nullptr;
  if (!window_) {
    window_ = AllocateHWnd([this](TMessage& message) { WndProc(message); }, thread());
    windowHandle_.store(window_.get(), std::memory_order_release);
  }
  return window_.get();
}

void TqOPCServer::WndProc(TMessage& message) {
  if (message.Msg == WM_QUERYENDSESSION) message.Result = 1;
  // A handler may destroy the component (closing the form that owns it).
  const QPointer<TqOPCServer> alive(this);
  try {
    switch (message.Msg) {
      case CM_OPCSHUTDOWN:
        CMOPCShutDown(message);
        break;
      case CM_OPCDATACHANGE:
        CMOPCDatachange(message);
        break;
      case CM_OPCWRITEERROR:
        CMOPCWriteError(message);
        break;
      case CM_OPCWRITECOMPLETE:
        CMOPCWriteComplete(message);
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    Application().HandleException(alive.data(), e);
  } catch (...) {
    Application().HandleException(alive.data(), Exception(QStringLiteral("unknown error")));
  }
}

void TqOPCServer::CMOPCShutDown(TMessage& message) {
  // A request tagged with a connection other than the one held now was meant
  // for a connection since given up; it must not end this one.
  if (message.WParam != 0 && (message.WParam != connection_ || !server_)) return;
  const quint64 choices = choices_;
  const QString reason = std::exchange(shutdownReason_, QString());
  if (!reason.isEmpty()) qCInfo(lcOpc) << "server" << serverName_ << "shuts down:" << reason;
  const QPointer<TqOPCServer> alive(this);
  OnServerShutdown(this, QString());
  if (!alive) return;
  emit serverShutdown(reason);
  if (!alive) return;
  setActive(false);
  if (!alive) return;
  connectionLost(choices);
}

bool TqOPCServer::listened(const TOnOPCDataChangeEvent& field,
                           void (TqOPCServer::*signal)(TqOPCItemList*)) const {
  return field.Assigned() || isSignalConnected(QMetaMethod::fromSignal(signal));
}

void TqOPCServer::fireListEvent(const TOnOPCDataChangeEvent& field,
                                void (TqOPCServer::*signal)(TqOPCItemList*), TqOPCItemList* list) {
  const quint64 departures = TqOPCItems::DepartureCount();
  const QPointer<TqOPCServer> alive(this);
  field(this, list);
  if (!alive) return;
  if (TqOPCItems::DepartureCount() != departures) list->Pack();  // the handler destroyed items
  emit(this->*signal)(list);
}

void TqOPCServer::CMOPCDatachange(TMessage& message) {
  auto* list = reinterpret_cast<TqOPCItemList*>(message.LParam);
  if (!list || message.WParam > WPARAM(INT_MAX)) return;
  if (!listened(OnDatachange, &TqOPCServer::dataChanged)) return;
  if (!groups_->FindItemID(int(message.WParam))) return;  // a group gone since
  list->Pack();  // items destroyed since the change are not handed out
  fireListEvent(OnDatachange, &TqOPCServer::dataChanged, list);
}

void TqOPCServer::CMOPCWriteComplete(TMessage& message) {
  auto* list = reinterpret_cast<TqOPCItemList*>(message.LParam);
  if (!list || !listened(OnWriteComplete, &TqOPCServer::writeComplete)) return;
  list->Pack();
  // The items show the server's answer to the write, not a later change's.
  const TqOPCItemUpdater::CarriedResults results(*list);
  fireListEvent(OnWriteComplete, &TqOPCServer::writeComplete, list);
}

void TqOPCServer::CMOPCWriteError(TMessage& message) {
  auto* list = reinterpret_cast<TqOPCItemList*>(message.LParam);
  if (!list) return;
  list->Pack();
  const TqOPCItemUpdater::CarriedResults results(*list);
  if (!listened(OnWriteError, &TqOPCServer::writeError)) {
    list->CheckOPCErrors(_STR_WRITERROR(), true);
    return;
  }
  fireListEvent(OnWriteError, &TqOPCServer::writeError, list);
}

// ---- server status ------------------------------------------------------------

namespace {

// Runs GetStatus and takes the block and its vendor text into guards, so
// both are freed on every path, a failing server's leftovers included.
struct StatusCall {
  opc::TaskOut<OPCSERVERSTATUS> block;
  opc::TaskString vendor;
  HRESULT hr = E_FAIL;

  explicit StatusCall(IOPCServer* server) {
    hr = server->GetStatus(block.put());
    if (block) *vendor.put() = std::exchange(block.get()->szVendorInfo, nullptr);
  }
};

}  // namespace

tServerStateRec TqOPCServer::GetState() {
  tServerStateRec state;
  if (!CheckServer()) return state;
  StatusCall call(server_.get());
  CheckCall(call.hr);
  if (!call.block) {
    Fault(_STR_NOTACTIVE());
    return state;
  }
  const OPCSERVERSTATUS& status = *call.block.get();
  state.StartTime = FileTimeToDateTime(status.ftStartTime);
  state.CurrentTime = FileTimeToDateTime(status.ftCurrentTime);
  state.LastUpdateTime = FileTimeToDateTime(status.ftLastUpdateTime);
  state.ServerState = qint32(status.dwServerState);
  state.GroupCount = qint32(status.dwGroupCount);
  state.BandWidth = qint32(status.dwBandWidth);
  state.MajorVersion = status.wMajorVersion;
  state.MinorVersion = status.wMinorVersion;
  state.BuildNumber = status.wBuildNumber;
  state.VendorInfo = WideToText(call.vendor.get());
  return state;
}

OPCSERVERSTATUS TqOPCServer::GetStatus() {
  OPCSERVERSTATUS result{};
  if (!CheckServer()) return result;
  StatusCall call(server_.get());
  CheckCall(call.hr);
  if (!call.block) {
    Fault(_STR_NOTACTIVE());
    return result;
  }
  result = *call.block.get();
  result.szVendorInfo = nullptr;  // freed with the block
  return result;
}

TDateTime TqOPCServer::GetStartTime() { return GetState().StartTime; }
TDateTime TqOPCServer::GetCurrentTime() { return GetState().CurrentTime; }
TDateTime TqOPCServer::GetLastUpdateTime() { return GetState().LastUpdateTime; }
qint32 TqOPCServer::GetServerState() { return GetState().ServerState; }
qint32 TqOPCServer::GetMajorVersion() { return GetState().MajorVersion; }
qint32 TqOPCServer::GetMinorVersion() { return GetState().MinorVersion; }
QString TqOPCServer::GetVendorInfo() { return GetState().VendorInfo; }
qint32 TqOPCServer::GetBandWidth() { return qint32(GetStatus().dwBandWidth); }
qint32 TqOPCServer::GetBuildNumber() { return GetStatus().wBuildNumber; }
QString TqOPCServer::GetServerStateStr() { return ServerStateToStr(GetServerState()); }
