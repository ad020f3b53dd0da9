// TqOPCServer: the non-visual component through which an application talks to
// one OPC server. Setting Active connects (creating the server object, naming
// the client, putting the groups on the server) or disconnects. Every failure
// of the component itself goes through Fault, which lets OnError decide
// whether an exception is raised. The component lives on the thread that
// created it; it reconnects by itself only with AutoReconnect, after the
// server ended the connection.
//
// Each event is a handler field (OnConnect...) and a Qt signal (connected()...).
// The field is called first; the signal follows right after it, also when no
// handler is assigned, and never once the handler destroyed the component.
#pragma once

#include <QBasicTimer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "messages.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/variant.h"
#include "qopctypes.h"
#include "tcomponent.h"
#include "tevent.h"
#include "tqdefaultgroup.h"
#include "tqopcgroups.h"
#include "tqopcitemlist.h"

class QIODevice;
class TqOPCBrowser;
class TqOPCItemProperties;
class TqOPCShutdownEvent;

/// Sender.
using TOnOPCConnectEvent = TEvent<QObject*>;
/// Sender, error text, raise flag (True on entry; set False to suppress).
using TOnOPCErrorEvent = TEvent<QObject*, const QString&, bool&>;
/// Sender, reason.
using TOnOPCServerShutdownEvent = TEvent<QObject*, const QString&>;
/// Sender, the items concerned (owned by the component, valid during the call).
using TOnOPCDataChangeEvent = TEvent<QObject*, TqOPCItemList*>;

class TqOPCServer : public TComponent {
  Q_OBJECT
  Q_PROPERTY(bool BatchMode READ BatchMode WRITE SetBatchMode)
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputername)
  Q_PROPERTY(QString ServerName READ ServerName WRITE SetServer)
  Q_PROPERTY(TqOPCGroups* OPCGroups READ OPCGroups CONSTANT)
  Q_PROPERTY(TqDefaultGroup* OPCGroupDefault READ OPCGroupDefault CONSTANT)
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(QString ClientName READ ClientName WRITE SetClientName)
  Q_PROPERTY(QString Version READ Version WRITE SetVersion)
  Q_PROPERTY(int ConnectDelay READ ConnectDelay WRITE SetConnectDelay)
  // Last, so that older files and the order of the others stay as they were.
  Q_PROPERTY(bool AutoReconnect READ AutoReconnect WRITE SetAutoReconnect)

 public:
  /// Blocks the calling thread for the given time (the ConnectDelay wait).
  using SleepFunction = std::function<void(std::chrono::milliseconds)>;

  /// owner (may be null) becomes the QObject parent and destroys the
  /// component. Installs the thread's apartment when there is none.
  explicit TqOPCServer(QObject* owner = nullptr);
  /// Disconnects without firing OnDisconnect, then frees the group defaults,
  /// the browser and the groups.
  ~TqOPCServer() override;

  // ---- published properties ----
  bool BatchMode() const { return batchMode_; }
  void SetBatchMode(bool value) { batchMode_ = value; }
  QString ComputerName() const { return computerName_; }
  /// A different text (case-sensitive) disconnects first (unless loading) and
  /// is then stored; the component stays disconnected. Empty or blank means
  /// this computer.
  void SetComputername(const QString& value);
  QString ServerName() const { return serverName_; }
  /// A registered ProgID or a class id in braces. Like SetComputername.
  void SetServer(const QString& value);
  /// The groups; owned by the component, never replaced.
  TqOPCGroups* OPCGroups() const { return groups_.get(); }
  /// Defaults for new groups; owned by the component.
  TqDefaultGroup* OPCGroupDefault() const { return groupDefault_.get(); }
  bool Active() const { return active_; }
  /// True connects, False disconnects; equal to Active does nothing. While
  /// loading only the value is stored (Loaded connects). Connecting may
  /// raise: EOleSysError when the server object cannot be created,
  /// EOPCException (through Fault) for a ServerName that names no class.
  void SetActive(bool value);
  QString ClientName() const { return clientName_; }
  /// Given to the server at the next connect (when not blank).
  void SetClientName(const QString& value) { clientName_ = value; }
  /// Always "1.40"; writes are ignored.
  QString Version() const;
  void SetVersion(const QString&) {}
  /// Milliseconds to wait after creating the server object when any group
  /// holds items (0 or less: no wait).
  qint32 ConnectDelay() const { return connectDelay_; }
  void SetConnectDelay(qint32 value) { connectDelay_ = value; }
  /// True: a connection the server ended (a shutdown request, or a call
  /// failing because the connection is gone) is made again after
  /// OnDisconnect, retried with growing pauses, without blocking. Once back,
  /// every group and item is on the server again and OnConnect fires as
  /// after any connect. False (the default) stops retries under way. Saved
  /// only when True.
  bool AutoReconnect() const { return autoReconnect_; }
  void SetAutoReconnect(bool value);

  // ---- events ----
  TOnOPCErrorEvent OnError;
  TOnOPCServerShutdownEvent OnServerShutdown;
  TOnOPCConnectEvent OnConnect;
  TOnOPCConnectEvent OnDisconnect;
  TOnOPCDataChangeEvent OnDatachange;
  TOnOPCDataChangeEvent OnWriteError;
  TOnOPCDataChangeEvent OnWriteComplete;

  /// Ends loading; in the designer BatchMode becomes False; a component read
  /// as active connects now.
  void Loaded() override;
  /// AutoReconnect only when True; the others as TPersistent says.
  bool IsPropertyStored(const QMetaProperty& property) const override;

  // ---- connection ----
  /// Disconnects, sets ServerName and ComputerName, connects.
  void Connect(const QString& serverName, const QString& computerName = QString());
  /// Active := False.
  void Disconnect();

  // ---- reconnect (AutoReconnect) ----
  /// True from a lost connection (with AutoReconnect) until it is back, that
  /// is until the OnConnect of the reconnect has run (a handler can tell a
  /// reconnect by it), or until the retries stop: Active written (Connect,
  /// Disconnect, a changed ServerName or ComputerName, loading a
  /// configuration), AutoReconnect set False, destruction.
  bool Reconnecting() const { return reconnecting_; }
  /// The pause before the first retry, doubled after each failed one up to
  /// cap (1 s and 30 s unless changed). Not published: for tests and
  /// applications with their own timing.
  void SetReconnectBackoff(std::chrono::milliseconds first, std::chrono::milliseconds cap);

  // ---- configuration stream (componentwriter.h, componentreader.h) ----
  /// Writes the component's configuration as text at the device's current
  /// position. Raises EFilerError for a value without a text form (nothing
  /// is written then), EStreamError when the device takes fewer bytes.
  void SaveToStream(QIODevice& stream);
  /// Saves into a file, replacing it atomically: a failed save leaves the
  /// old file whole. Raises EFCreateError when the file cannot be written.
  void SaveToFile(const QString& fileName);
  /// Reads a configuration from the device's current position. Malformed
  /// text (EParserError) changes nothing. Otherwise a connected component
  /// is disconnected first (the disconnect sequence), the properties are
  /// read while loading, and Loaded connects when the text says Active =
  /// True. A read error (EReadError) keeps what was read before it; the
  /// component then ends loading disconnected, without Loaded's connect.
  void LoadFromStream(QIODevice& stream);
  /// Loads a file whose first 299 bytes (up to a zero byte) contain
  /// "tqopcserver" in any letter case; raises Exception "wrong fileformat"
  /// otherwise, leaving the component unchanged, and EFOpenError when the
  /// file cannot be opened.
  void LoadFromFile(const QString& fileName);

  // ---- server access ----
  /// True while connected; otherwise reports "not connected to server"
  /// through Fault and returns False (when OnError suppressed the exception).
  bool CheckServer();
  /// The server after CheckServer: a new reference for the caller, empty when
  /// not connected.
  ComPtr<IOPCServer> GetOPCServer();
  /// The server's IOPCCommon after CheckServer, asked for once and kept until
  /// disconnect; empty when the server lacks it (asked again next time).
  ComPtr<IOPCCommon> GetCommonIF();
  /// Likewise for IOPCItemProperties.
  ComPtr<IOPCItemProperties> GetItemPropIF();
  /// The IOPCItemProperties held now (asked for at connect), without the
  /// fault path: empty when not connected or the server has none.
  ComPtr<IOPCItemProperties> HeldItemPropIF() const { return itemProperties_; }
  /// Releases the shutdown callback, the cached interfaces, the groups'
  /// server side, unbinds the browser and releases the server last. Groups
  /// and items stay in the collections.
  void RemoveServerInterface();
  /// True when connected to a server that has connection points (DA 2.0);
  /// False when not connected.
  bool Version2();
  /// True when any group holds an item.
  bool ItemsExists() const;
  int GetGroupCount() const;
  /// The server's locale id (IOPCCommon, checked with OPCCheck). Raises
  /// EOPCException "not connected to server" directly when IOPCCommon is not
  /// held.
  qint32 GetLocaleId();
  /// Sends the locale id when IOPCCommon is held (result ignored).
  void SetLocaleId(qint32 value);
  /// Called with the result of every call on the held server's interfaces:
  /// a result saying the connection is gone (RPC_E_DISCONNECTED, a remote
  /// call out of time, the RPC server unavailable, the remote call failed)
  /// ends the connection as a server's shutdown request does. The request
  /// is posted, so OnServerShutdown, OnDisconnect and (AutoReconnect) the
  /// retries follow once the failing operation has raised.
  void NoteCallResult(HRESULT code);
  /// NoteCallResult, then OPCCheck.
  void CheckCall(HRESULT code);
  /// The one fault path: calls OnError (raise flag True on entry) and raises
  /// EOPCException with the text unless the handler cleared the flag.
  void Fault(const QString& errorString);
  /// The server's own text for a result code (locale 0); empty when not
  /// connected (after the fault) or when the server fails the call.
  QString GetErrorString(HRESULT code);
  /// The component's own address-space browser, bound to the component
  /// while connected; owned by the component, valid as long as it lives.
  TqOPCBrowser* Browser() const { return browser_.get(); }

  // ---- item properties (through the interface held while connected; when
  // not connected or the server has none they report failure, never fault) ----
  /// Replaces list with one line per available property of the item, in the
  /// server's order: id, a comma, the description in double quotes (inner
  /// quotes as they are), a comma, the data type code. True when list is not
  /// empty. A failed listing raises through OPCCheck.
  bool QueryAvailableProperties(const QString& itemId, QStringList& list);
  /// Reads one property value into value (cleared first); true only when the
  /// server read it with S_OK. Never raises.
  bool GetItemProperty(const QString& itemId, qint32 propertyId, OleVariant& value);
  /// The item id under which the property can be added as an item; empty
  /// when the call fails or the server has none. A failure reported for the
  /// property itself raises through OPCCheck.
  QString LookupItemId(const QString& itemId, quint32 propertyId);

  // ---- server status: each call asks the server once ----
  /// The status record. Not connected: the fault, then (if suppressed) a
  /// zeroed record. A failed status call raises through OPCCheck; a server
  /// that hands out no status block faults "not connected to server".
  tServerStateRec GetState();
  /// The raw status block (szVendorInfo cleared: use GetVendorInfo).
  OPCSERVERSTATUS GetStatus();
  TDateTime GetStartTime();
  TDateTime GetCurrentTime();
  TDateTime GetLastUpdateTime();
  qint32 GetServerState();
  qint32 GetMajorVersion();
  qint32 GetMinorVersion();
  QString GetVendorInfo();
  qint32 GetBandWidth();
  qint32 GetBuildNumber();
  /// "running", "failed"... for states 1 to 5; empty otherwise.
  QString GetServerStateStr();

  // ---- callback messages ----
  /// The hidden window the data sinks and the shutdown callback post to,
  /// made on the first call (from any thread; it always lives on the
  /// component's thread) and kept until the component is destroyed. Null
  /// once destruction has begun. Owned by the component.
  HWND GetHandle();
  /// The hidden window's procedure: WM_QUERYENDSESSION is answered 1, the
  /// CM_OPC* messages go to their handlers; whatever a handler (or an event
  /// handler it calls) raises goes to the application's exception handler,
  /// with the component as sender. Other messages are left alone (result 0).
  /// A list a message carries is not freed here: a posted list belongs to
  /// its message, a sent one stays the sender's.
  void WndProc(TMessage& message);

  /// Replaces the process's ConnectDelay wait (null restores the real
  /// sleep); returns the one before. For tests.
  static SleepFunction SetSleepFunction(SleepFunction sleep);

 signals:
  // Each follows its field (named beside it). A list argument belongs to the
  // component and is valid only during the emission: connect directly (the
  // receiver on the component's thread), never queued.
  /// After OnConnect. A handler that disconnected again has already
  /// emitted disconnected(); Active tells the state left.
  void connected();
  /// After OnDisconnect. Not emitted while the component is destroyed.
  void disconnected();
  /// After OnError. raiseException is what the handler left (true without
  /// one): whether the failing operation now raises. Only the field can
  /// suppress the exception.
  void error(const QString& message, bool raiseException);
  /// After OnServerShutdown, before the component disconnects.
  void serverShutdown(const QString& reason);
  /// Reconnecting() changed. Not emitted while the component is destroyed.
  void reconnectingChanged(bool reconnecting);
  /// After OnDatachange: the items of one group whose values arrived.
  void dataChanged(TqOPCItemList* items);
  /// After OnWriteComplete; each item's LastError is its write's result.
  void writeComplete(TqOPCItemList* items);
  /// After OnWriteError; as writeComplete. A receiver connected here stands
  /// for a handler: the "cannot write Items:" report is raised only when
  /// neither is there.
  void writeError(TqOPCItemList* items);

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  /// SetActive without ending the retries: the component's own changes.
  void setActive(bool value);
  void connectSequence();
  /// The connect sequence up to OnConnect: the server object held and
  /// everything put on it. False when a fault was silenced.
  bool makeConnection();
  /// The end of the connect sequence: OnConnect, then connected().
  void announceConnection();
  void disconnectSequence();
  // Reconnect (tqopcserver_reconnect.cpp).
  /// After the server ended the connection: with AutoReconnect, and unless
  /// the application has since set Active itself, the retries begin.
  void connectionLost(quint64 choices);
  void scheduleRetry();
  void retryConnect();
  void stopReconnect();
  /// A failed retry: reported once per outage, logged always.
  void retryFailed(const std::exception_ptr& failure);
  // Seams of the connect and disconnect sequences, filled by the subsystems
  // that own them.
  void bindBrowser();
  void unbindBrowser();
  void adviseShutdownCallback();
  void releaseShutdownCallback();
  void createGroupsOnServer();
  void removeGroupsFromServer();

  // Message handlers. A list-carrying message with no list fires no event.
  /// OnServerShutdown with an empty reason, then the disconnect sequence.
  /// A request tagged (WParam) with a connection other than the one held
  /// now is dropped; WParam 0 means the current one.
  void CMOPCShutDown(TMessage& message);
  // The lists handed to the events hold only items still alive; during the
  // write events each item's LastError is the server's result for the write.
  /// OnDatachange when a group has the ID in WParam; otherwise dropped.
  void CMOPCDatachange(TMessage& message);
  void CMOPCWriteComplete(TMessage& message);
  /// OnWriteError, or without one the "cannot write Items:" report raised.
  void CMOPCWriteError(TMessage& message);
  /// Whether a list event has a handler or a connected receiver.
  bool listened(const TOnOPCDataChangeEvent& field,
                void (TqOPCServer::*signal)(TqOPCItemList*)) const;
  /// The field, then (the component still alive) the signal.
  void fireListEvent(const TOnOPCDataChangeEvent& field,
                     void (TqOPCServer::*signal)(TqOPCItemList*), TqOPCItemList* list);

  // Unadvises through the server as the component holds it at that moment.
  friend class TqOPCShutdownEvent;
  // Groups reach the held server without the fault path: taking a group off
  // the server must work while the component disconnects.
  friend class TqOPCGroup;
  friend class TqOPCGroups;

  bool batchMode_ = false;
  QString computerName_;
  QString serverName_;
  std::unique_ptr<TqOPCGroups> groups_;
  std::unique_ptr<TqDefaultGroup> groupDefault_;
  bool active_ = false;
  // Counts connections (never 0), so a shutdown request queued for one does
  // not end a later one.
  WPARAM connection_ = 0;
  /// The reason text of the last shutdown request, for the serverShutdown
  /// signal; taken by CMOPCShutDown.
  QString shutdownReason_;
  QString clientName_;
  qint32 connectDelay_ = 300;
  bool autoReconnect_ = false;
  bool reconnecting_ = false;
  // Counts the application's writes of Active: a retry never overrides one
  // made since the connection was lost.
  quint64 choices_ = 0;
  int retries_ = 0;  // failed retries of this outage
  bool outageReported_ = false;
  bool quietFaults_ = false;  // Fault raises without OnError (later retries)
  std::chrono::milliseconds firstRetryDelay_{1000};
  std::chrono::milliseconds maxRetryDelay_{30000};
  QBasicTimer retryTimer_;

  ComPtr<IOPCServer> server_;  // held exactly while connected
  ComPtr<IOPCCommon> common_;
  ComPtr<IOPCItemProperties> itemProperties_;
  ComPtr<TqOPCShutdownEvent> shutdownEvent_;  // the shutdown callback, while connected
  // The hidden window: made by whichever thread asks first, destroyed first
  // in the destructor. The handle is read without the lock.
  std::mutex windowMutex_;
  std::unique_ptr<THiddenWindow> window_;
  std::atomic<THiddenWindow*> windowHandle_{nullptr};
  std::atomic<bool> windowClosed_{false};
  std::unique_ptr<TqOPCBrowser> browser_;  // no QObject owner: freed by the destructor
};
