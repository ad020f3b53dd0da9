// TqOPCGroup: a group of items with its own update rate, dead band, active
// flag, locale and time bias. Its properties are kept locally at all times;
// while the server component is connected the group also exists on the
// server, registered with the group's collection ID as its client handle.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "opc/OPCDA.h"
#include "tcollectionitem.h"
#include "tqdefaultitem.h"
#include "tqopcitems.h"

class TqOPCAdviseSink;
class TqOPCDataCallback;
class TqOPCGroups;
class TqOPCItemList;
class TqOPCServer;
class THiddenWindow;

/// A group's state as the server reports it, in one value.
struct tGroupStateRec {
  qint32 UpdateRate = 0;  ///< milliseconds
  bool Active = false;
  QString Name;
  qint32 TimeBias = 0;  ///< minutes
  float PercentDeadband = 0.0f;
  qint32 LCID = 0;
  OPCHANDLE hClientGroup = 0;
  OPCHANDLE hServerGroup = 0;
};

class TqOPCGroup : public TCollectionItem {
  Q_OBJECT
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(bool IsActive READ IsActive WRITE SetIsActive)
  Q_PROPERTY(int UpdateRate READ UpdateRate WRITE SetUpdateRate)
  Q_PROPERTY(float DeadBand READ DeadBand WRITE SetDeadBand)
  Q_PROPERTY(int LocaleId READ LocaleId WRITE SetLocaleId)
  Q_PROPERTY(int TimeBias READ TimeBias WRITE SetTimeBias)
  Q_PROPERTY(TqDefaultItem* DefaultItem READ DefaultItem CONSTANT)
  Q_PROPERTY(TqOPCItems* OPCItems READ OPCItems CONSTANT)

 public:
  /// The server handle of a group that is not on the server.
  static constexpr OPCHANDLE kNoServerHandle = OPCHANDLE(-1);

  /// Joins groups and starts from the server component's group defaults,
  /// named "TqOPCGroup" followed by its index. In the designer a connected
  /// component puts the new group on the server at once. Use the
  /// collection's Add.
  explicit TqOPCGroup(TqOPCGroups* groups);
  /// A group still on the server (deleted outright, not through the
  /// collection) is taken off it first, its failures handed to the
  /// application's exception handler. Destroying through the collection
  /// (Remove, Delete, Clear) or Free() takes it off the same way and raises
  /// the failures after the group is gone.
  ~TqOPCGroup() override;

  QString Name() const { return name_; }
  bool IsActive() const { return isActive_; }
  qint32 UpdateRate() const { return updateRate_; }
  float DeadBand() const { return deadBand_; }
  qint32 LocaleId() const { return localeId_; }
  qint32 TimeBias() const { return timeBias_; }
  bool IsPublic() const { return isPublic_; }
  bool IsSubscribed() const { return isSubscribed_; }

  // The setters of the state properties send the change to the server first
  // (when the group is on it) and store it afterwards, so a failed server
  // call (raised through OPCCheck) leaves the property unchanged. An equal
  // value changes nothing and calls nothing.
  /// Renames the group on the server (IOPCGroupStateMgt::SetName).
  void SetName(const QString& value);
  void SetIsActive(bool value);
  /// Stores the rate the server revised the request to (the request itself
  /// while the group is not on the server).
  void SetUpdateRate(qint32 value);
  void SetDeadBand(float value);
  void SetLocaleId(qint32 value);
  void SetTimeBias(qint32 value);
  /// Stored only.
  void SetIsPublic(bool value);
  void SetIsSubscribed(bool value);

  /// Sends a whole state to the server (IOPCGroupStateMgt::SetState, checked
  /// with OPCCheck) and puts the server's revised rate into updateRate. Does
  /// nothing while the group has no state interface. Stores nothing else.
  void SetState(qint32& updateRate, bool active, qint32 timeBias, float deadBand, qint32 localeId,
                qint32 clientGroup);
  /// Reads the whole state from the server; the group's properties stay as
  /// they are. Raises EOPCException "not connected to server" while the group
  /// is not on the server, EOleSysError (E_NOINTERFACE) when the server
  /// refused the state interface, and through OPCCheck when the call fails.
  void GetState(tGroupStateRec& state);

  /// Defaults of the group's new items; owned by the group.
  TqDefaultItem* DefaultItem() const { return defaultItem_.get(); }
  /// The group's items; owned by the group.
  TqOPCItems* OPCItems() const { return items_.get(); }
  /// The owning server component.
  TqOPCServer* Server() const { return server_; }

  // ---- life on the server ----
  /// Puts the group on the server: AddGroup with the group's properties and
  /// its ID as client handle, the group interfaces, the items (added, or
  /// validated in the designer; failures shown, not raised), the revised
  /// update rate. Reports "not connected to server" through the component's
  /// fault path when it is not connected. A failed AddGroup raises through
  /// OPCCheck and leaves the group local. A group already on the server is
  /// taken off it first.
  void OPCAddGroup();
  /// Takes the group off the server: the group interfaces, the items' server
  /// handles, the server's group. Never raises for the server's answers.
  void OPCRemoveGroup();
  /// True while the group exists on the server (holds its IOPCItemMgt).
  bool IsOnServer() const { return bool(itemMgt_); }
  /// The server's handle of the group, kNoServerHandle while not on it.
  OPCHANDLE ServerHandle() const { return hServerGroup_; }
  /// The group's client handle on the server: its collection ID.
  OPCHANDLE ClientHandle() const { return OPCHANDLE(ID()); }

  // The group interfaces, held while the group is on the server; each is
  // empty when the server refused it. At most one asynchronous interface is
  // held. Owned by the group; valid until it leaves the server.
  IOPCItemMgt* ItemMgt() const { return itemMgt_.get(); }
  IOPCGroupStateMgt* GroupStateMgt() const { return stateMgt_.get(); }
  IOPCSyncIO* SyncIO() const { return syncIO_.get(); }
  IOPCAsyncIO2* AsyncIO2() const { return asyncIO2_.get(); }
  IOPCAsyncIO* AsyncIO() const { return asyncIO_.get(); }

  /// Identifier of the last asynchronous call, 0 when none is pending.
  quint32 TaskId() const { return taskId_; }
  void SetTaskId(quint32 value) { taskId_ = value; }
  /// Ends the pending asynchronous call when transactionId names it: the
  /// identifier the server returned for it, or the transaction identifier
  /// it was made with (DA 2.0 completions carry that one).
  void ClearTaskId(quint32 transactionId);

  /// The data sink connected while the group is on the server: the DA 2.0
  /// data callback or the DA 1.0 advise sink (at most one; none when neither
  /// could be connected). Owned by the group (counted), valid until the
  /// group leaves the server.
  TqOPCDataCallback* DataCallback() const { return dataCallback_.get(); }
  TqOPCAdviseSink* AdviseSink() const { return adviseSink_.get(); }

  // ---- reads and writes ----
  // The list operations work on the listed items of this group (all its
  // items, in index order, when list is null; destroyed items are skipped,
  // an item of another group raises). Each sends the items in one server
  // call and returns True exactly when every item succeeded; False also when
  // the group lacks the interface the operation needs (not on the server,
  // or refused) or the list is empty. An item without a server handle raises
  // "item %s not exists on OPCServer" before any call; a failed whole call
  // raises through OPCCheck. A failed item gets Quality 0 and its LastError,
  // a successful one LastError 0.
  /// Reads from the server's cache (fromCache) or the device (IOPCSyncIO).
  /// Each item that succeeded gets the value, quality and time stamp read.
  /// Posts nothing.
  bool SyncRead(const TqOPCItemList* list, bool fromCache);
  /// Writes each item's WriteValue (IOPCSyncIO). Value does not change:
  /// the server reports the new value with its next change or read.
  bool SyncWrite(const TqOPCItemList* list = nullptr);
  /// Asks for the items' values (IOPCAsyncIO2, else from the device through
  /// IOPCAsyncIO); they arrive later as an OnDatachange event. TaskId becomes
  /// the server's identifier of the call, or stays 0 when its completion
  /// already arrived inside the call.
  bool AsyncRead(const TqOPCItemList* list = nullptr);
  /// Writes each item's WriteValue asynchronously; with IOPCAsyncIO2 the
  /// completion later raises OnWriteComplete or OnWriteError (a DA 1.0
  /// server reports none). TaskId as AsyncRead.
  bool AsyncWrite(const TqOPCItemList* list = nullptr);
  /// Asks for every active item's value, from the cache or the device; they
  /// arrive as an OnDatachange event. Nothing without an asynchronous
  /// interface. TaskId becomes the server's identifier once it accepted
  /// (0 when the completion already arrived inside the call).
  void Refresh(bool fromCache);
  /// Cancels the pending asynchronous call (TaskId not 0; OPCCheck on the
  /// server's answer); TaskId is 0 afterwards in every case.
  void CancelLastAsyncCall();
  // The DA 1.0 interface sends its results through the advise sink's
  // connection: a group whose data arrives through the data callback has
  // none, and its IOPCAsyncIO calls fail (EOleSysError
  // CONNECT_E_NOCONNECTION) without reaching the server.

  /// Name, or the class name when Name is blank.
  QString GetDisplayName() const override;
  /// The saved-text rules, and Name also when empty: a new group is named
  /// "TqOPCGroup<index>", so leaving the empty name out would not read back
  /// the same.
  bool IsPropertyStored(const QMetaProperty& property) const override;

 protected:
  /// Takes the group off the server before it is destroyed.
  void BeforeDestruction() override;
  /// A group moves only to another component's groups, and only while it is
  /// not on the server; it then belongs to that component. Other moves raise
  /// EOPCException and change nothing.
  void ChangingCollection(TCollection* target) override;

 private:
  // Its items ask the component's state through their group; they never
  // reach the component itself.
  friend class TqOPCItems;
  friend class TqOPCItem;
  /// The component sits in a designer.
  bool designing() const;
  /// The single-item path may call the server: not in batch mode,
  /// connected, not loading.
  bool singleItemCalls() const;
  /// Raises the component's fault for a failed call (see
  /// TqOPCServer::CheckCall).
  void checkCall(HRESULT code) const;
  // Its data sinks post to the component's window (callbackWindow) and
  // read the item table; they never reach the component itself.
  friend class TqOPCDataCallback;
  friend class TqOPCAdviseSink;
  /// The hidden window of the server component (null once it is being
  /// destroyed).
  THiddenWindow* callbackWindow() const;
  // Data sink of the group (connected once its items are on the server,
  // dropped when it leaves the server): filled by the data change delivery.
  void connectDataSink();
  void disconnectDataSink();
  void releaseGroupInterfaces();
  std::vector<TqOPCItem*> listedItems(const TqOPCItemList* list) const;
  static bool storeResults(std::span<TqOPCItem* const> items, const HRESULT* errors);
  HRESULT asyncConnection(DWORD& connection) const;
  // Records a call the server accepted as the pending one, unless its
  // completion came back while the call was being made.
  void recordPending(quint32 id, quint32 transaction, const std::vector<quint32>& endedInCall);

  ComPtr<IOPCItemMgt> itemMgt_;
  ComPtr<IOPCGroupStateMgt> stateMgt_;
  ComPtr<IOPCSyncIO> syncIO_;
  ComPtr<IOPCAsyncIO2> asyncIO2_;
  ComPtr<IOPCAsyncIO> asyncIO_;
  // Counted: a server that lets go of a sink early must not leave the group
  // holding a dangling one.
  ComPtr<TqOPCDataCallback> dataCallback_;
  ComPtr<TqOPCAdviseSink> adviseSink_;
  OPCHANDLE hServerGroup_ = kNoServerHandle;
  quint32 taskId_ = 0;
  quint32 taskTransactionId_ = 0;  // the transaction identifier of that call
  // While an asynchronous call is being made: the identifiers of the
  // completions seen meanwhile (a server may answer inside the call).
  std::vector<quint32>* endedInCall_ = nullptr;
  bool isPublic_ = false;
  bool isActive_ = false;
  bool isSubscribed_ = false;
  qint32 timeBias_ = 0;
  qint32 localeId_ = 0;
  qint32 updateRate_ = 0;
  float deadBand_ = 0.0f;
  QString name_;
  TqOPCServer* server_;
  std::unique_ptr<TqDefaultItem> defaultItem_;
  std::unique_ptr<TqOPCItems> items_;
};
