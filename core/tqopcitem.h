// TqOPCItem: one data point of a group (ItemID, optionally qualified by an
// AccessPath) and what the client last learned about it.
#pragma once

#include <QVariant>

#include "opc/OPCtypes.h"
#include "qopctypes.h"
#include "tcollectionitem.h"

class TqOPCGroup;
class TqOPCItems;

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

  /// Joins items and starts from the group's default item (active flag,
  /// requested type, access path). Use the collection's AddItem.
  explicit TqOPCItem(TqOPCItems* items);
  ~TqOPCItem() override;

  QString ItemID() const { return itemId_; }
  QString AccessPath() const { return accessPath_; }
  bool IsActive() const { return isActive_; }
  OPCADatatype RequestDatatype() const { return requestDatatype_; }
  /// The last value received.
  const OleVariant& Value() const { return value_; }
  QVariant ValueVariant() const;
  /// The last OPC quality word received (0 is bad).
  qint32 Quality() const { return quality_; }
  /// Local time stamp of the last value (0: none).
  TDateTime TimeStamp() const { return timeStamp_; }
  /// The server's native variant type code.
  qint32 CanonicalDatatype() const { return canonicalDatatype_; }
  qint32 EUType() const { return euType_; }
  const OleVariant& EUInfo() const { return euInfo_; }
  QVariant EUInfoVariant() const;
  /// The server's handle of the item, kNoServerHandle while not on it.
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  /// The access rights the server reported (OPC_READABLE, OPC_WRITEABLE).
  DWORD AccessRights() const { return accessRights_; }
  /// Result of the item's last server operation (0: success).
  HRESULT LastError() const { return lastError_; }
  /// The value the next write sends.
  const OleVariant& WriteValue() const { return writeValue_; }
  /// The owning group.
  TqOPCGroup* Group() const { return group_; }

  /// Raise EOPCException "not possible if connected to OPC Server" while the
  /// item is on the server, changing nothing.
  void SetItemID(const QString& value);
  void SetAccessPath(const QString& value);
  void SetIsActive(bool value);
  void SetRequestDatatype(OPCADatatype value);

  /// Empty when LastError is 0; otherwise its OPC text or, for a code without
  /// one, "unknown error : <code>".
  QString GetLastErrorStr() const;
  /// The value as display text (VarToAStr).
  QString ValueStr() const;
  /// True when the quality is in the class "good" (both bits 0xC0 set).
  bool IsGoodQuality() const;

  /// ItemID, or the class name when ItemID is blank.
  QString GetDisplayName() const override;

 private:
  bool isActive_ = true;
  qint32 euType_ = 0;
  qint32 canonicalDatatype_ = 0;
  TDateTime timeStamp_ = 0;
  OPCHANDLE serverHandle_ = kNoServerHandle;
  OleVariant value_;
  OPCADatatype requestDatatype_ = vtEMPTY;
  QString itemId_;
  QString accessPath_;
  TqOPCGroup* group_;
  DWORD accessRights_ = 0;
  qint32 quality_ = 0;
  OleVariant euInfo_;
  HRESULT lastError_ = S_OK;
  OleVariant writeValue_;
};
