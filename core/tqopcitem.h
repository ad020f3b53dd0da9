// TqOPCItem: one data point of a group (ItemID, optionally qualified by an
// AccessPath) and what the client last learned about it.
//
// Client handle: the item's collection ID. IDs are 32-bit, given once per
// group and never reused, so a handle the server sends back resolves through
// the group's table of live items (TqOPCItems::FindClientHandle) either to
// the item it was given for or, once that item is destroyed, to nothing.
#pragma once

#include <QList>
#include <QVariant>

#include "opc/OPCtypes.h"
#include "qopctypes.h"
#include "tcollectionitem.h"

class TqOPCGroup;
class TqOPCItems;
class TqGUIItem;

class TqOPCItem : public TCollectionItem {
  Q_OBJECT
  Q_PROPERTY(QString ItemID READ ItemID WRITE SetItemID)
  Q_PROPERTY(QString AccessPath READ AccessPath WRITE SetAccessPath)
  Q_PROPERTY(bool IsActive READ IsActive WRITE SetIsActive)
  Q_PROPERTY(qOPC::OPCADatatype RequestDatatype READ RequestDatatype WRITE SetRequestDatatype)
  Q_PROPERTY(QVariant Value READ ValueVariant STORED false)
  Q_PROPERTY(int Quality READ Quality STORED false)
  Q_PROPERTY(double TimeStamp READ TimeStamp STORED false)
  Q_PROPERTY(int CanonicalDatatype READ CanonicalDatatype STORED false)
  Q_PROPERTY(int EUType READ EUType STORED false)
  Q_PROPERTY(QVariant EUInfo READ EUInfoVariant STORED false)

 public:
  /// The server handle of an item that is not on the server.
  static constexpr OPCHANDLE kNoServerHandle = OPCHANDLE(-1);

  /// Commands of the single-item path (OPCCommand).
  enum Command { cmdRemove = 0, cmdAdd = 1, cmdActive = 2, cmdValidate = 3, cmdSetDatatype = 4 };

  /// Joins items and starts from the group's default item (active flag,
  /// requested type, access path). Nothing is sent to the server. Use the
  /// collection's AddItem.
  explicit TqOPCItem(TqOPCItems* items);
  /// An item still on the server (deleted outright, not through the
  /// collection) is removed from it first, unless in batch mode, as a group
  /// is; a failure goes to the application's exception handler. Destroying
  /// through the collection (Delete, Clear, RemoveAll) or Free() removes it
  /// the same way and raises the "OPC Command:" report after the item is
  /// gone.
  ~TqOPCItem() override;

  QString ItemID() const { return itemId_; }
  QString AccessPath() const { return accessPath_; }
  bool IsActive() const { return isActive_; }
  OPCADatatype RequestDatatype() const { return OPCADatatype(requestDatatype_); }
  /// The last value received.
  const OleVariant& Value() const { return value_; }
  QVariant ValueVariant() const;
  /// The last OPC quality word received (0..65535; 0 is bad).
  qint32 Quality() const { return quality_; }
  /// Local time stamp of the last value (0: none).
  TDateTime TimeStamp() const { return timeStamp_; }
  /// The server's native variant type code (0 until the server named it).
  qint32 CanonicalDatatype() const { return canonicalDatatype_; }
  /// Never filled: 0.
  qint32 EUType() const { return 0; }
  /// Never filled: unassigned.
  const OleVariant& EUInfo() const;
  QVariant EUInfoVariant() const;
  /// The server's handle of the item, kNoServerHandle while not on it.
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  /// The access rights the server reported (OPC_READABLE, OPC_WRITEABLE).
  DWORD AccessRights() const { return accessRights_; }
  /// Result of the item's last server operation (0: success).
  HRESULT LastError() const { return lastError_; }
  /// The value the next write sends (the group's list writes send it).
  const OleVariant& WriteValue() const { return writeValue_; }
  void SetWriteValue(const OleVariant& value) { writeValue_ = value; }
  /// The owning group.
  TqOPCGroup* Group() const { return group_; }
  /// The bindings that show this item, in the order they linked; created
  /// empty with the item and freed with it, never owning the bindings. The
  /// binding component fills and empties it. A binding refers to its item
  /// through a QPointer, so a destroyed item leaves no binding pointing at it.
  QList<TqGUIItem*>& GUIList() { return guiList_; }
  const QList<TqGUIItem*>& GUIList() const { return guiList_; }
  /// The handle the server knows the item by on the client side: the item's
  /// collection ID (see the top of this file).
  OPCHANDLE GetClientHandle() const { return OPCHANDLE(ID()); }

  /// Raise EOPCException "not possible if connected to OPC Server" while the
  /// item is on the server, changing nothing. Otherwise store the text and,
  /// in the designer, validate the item on the server (OPCCommand).
  void SetItemID(const QString& value);
  void SetAccessPath(const QString& value);
  /// Store first, then (outside the designer) send the change through
  /// OPCCommand, so a failed server call leaves the new value in place.
  void SetIsActive(bool value);
  void SetRequestDatatype(OPCADatatype value);

  /// The single-item path: runs one command on a list of this item (remove,
  /// add, set active state to value, validate, set the requested type) and
  /// then raises the "OPC Command:" report when the item's LastError is not 0
  /// (also after the command itself raised). Does nothing at all while the
  /// component is in batch mode, disconnected or loading. An unknown command
  /// raises "unknown error : <command>".
  void OPCCommand(int command, bool value = false);

  /// Writes value to the server through the group (SyncWrite, or AsyncWrite
  /// whose completion arrives later as an event), after storing it as the
  /// WriteValue. Raises EOPCException "cannot write Items:" with the report
  /// when the server refuses the item, "item %s not exists on OPCServer"
  /// when the item is not on the server, and EOleSysError (E_NOINTERFACE)
  /// when the server offers no such write; a failed whole call raises
  /// through OPCCheck.
  void WriteSync(const OleVariant& value);
  void WriteAsync(const OleVariant& value);

  /// Empty when LastError is 0; otherwise its OPC text or, for a code without
  /// one, "unknown error : <code>".
  QString GetLastErrorStr() const;
  /// The value as display text (VarToAStr).
  QString ValueStr() const;
  /// True when the quality is in the class "good" (both bits 0xC0 set).
  bool IsGoodQuality() const;

  /// ItemID, or the class name when ItemID is blank.
  QString GetDisplayName() const override;
  /// The saved-text rules, and AccessPath also when empty while the group's
  /// default item has one: a new item takes the default's path, so leaving
  /// the empty one out would not read back the same.
  bool IsPropertyStored(const QMetaProperty& property) const override;

 protected:
  /// Clears LastError, then removes the item from the server (OPCCommand).
  void BeforeDestruction() override;
  /// An item moves only to another group's items, and only while it is not
  /// on the server (its handles belong to its group there); it then belongs
  /// to that group. Other moves raise EOPCException and change nothing.
  void ChangingCollection(TCollection* target) override;

 private:
  friend class TqOPCItems;
  // Stores what the server reports (values, results, handles).
  friend class TqOPCItemUpdater;
  void write(const OleVariant& value, bool async);

  // Laid out for size: a group may hold 100,000 items.
  OPCHANDLE serverHandle_ = kNoServerHandle;
  HRESULT lastError_ = S_OK;
  DWORD accessRights_ = 0;
  VARTYPE canonicalDatatype_ = VT_EMPTY;
  VARTYPE requestDatatype_ = vtEMPTY;
  quint16 quality_ = 0;
  bool isActive_ = true;
  TDateTime timeStamp_ = 0;
  QString itemId_;
  QString accessPath_;
  TqOPCGroup* group_;
  OleVariant value_;
  OleVariant writeValue_;
  QList<TqGUIItem*> guiList_;
};
