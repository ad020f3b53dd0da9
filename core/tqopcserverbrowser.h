// TqopcServerBrowser: finds the OPC servers of this or a named computer by
// asking the computer's OPC server list object for the classes of the OPC
// categories, keeping one TqopcServerItem per server with every category it
// was found in. GetOPCServers(list) lists the ProgIDs of the servers
// registered on this computer straight from the class registry.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "opc/OPCCOMN.h"
#include "qopctypes.h"
#include "tcomponent.h"
#include "tqopcserveritem.h"

class TqopcServerBrowser : public TComponent {
  Q_OBJECT
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputerName)
  Q_PROPERTY(qOPC::tqopcServerSet Servertype READ Servertype WRITE SetServertype)

 public:
  /// owner (may be null) becomes the QObject parent. No items, this
  /// computer, every category.
  explicit TqopcServerBrowser(QObject* owner = nullptr);
  /// Frees the items.
  ~TqopcServerBrowser() override;

  // ---- published properties ----
  /// Empty: this computer.
  QString ComputerName() const { return computerName_; }
  void SetComputerName(const QString& value) { computerName_ = value; }
  /// The categories Execute asks for.
  tqopcServerSet Servertype() const { return servertype_; }
  void SetServertype(tqopcServerSet value) { servertype_ = value; }

  /// Frees the items found before, then asks the server list object of
  /// ComputerName for the servers of the selected categories, DA 1.0 first,
  /// then DA 2.0, then Alarms and Events 1.0. A server list object that
  /// cannot be created or lacks IOPCServerList, and a failing category query
  /// or class lookup, raise EOleSysError; the servers found until then stay.
  void Execute();
  /// ComputerName := computer, then Execute.
  void GetOPCServers(const QString& computer);

  int GetCount() const { return int(items_.size()); }
  /// The server at index (0-based), owned by the browser and valid until the
  /// next Execute or Clear; raises EListError outside 0..Count-1.
  TqopcServerItem* GetItems(int index) const;
  /// Puts item at index (the browser owns it) and hands the item it replaces
  /// back to the caller. Raises EListError outside 0..Count-1 and for a null
  /// item.
  std::unique_ptr<TqopcServerItem> SetItems(int index, std::unique_ptr<TqopcServerItem> item);
  /// The server whose ClsId is exactly clsId (case counts), or null.
  TqopcServerItem* GetServer(const QString& clsId) const;
  /// Frees every item, last first.
  void Clear();

  /// One category query on list: every class of category is merged with the
  /// tag. Raises EOleSysError when the query or a class lookup fails.
  void GetServers(IOPCServerList* list, const CATID& category, tqopcServerType tag);
  /// Merges one found server: a class id not listed yet is appended (with
  /// ComputerName), then tag joins its categories.
  void AddServer(const QString& userType, const QString& progId, const QString& clsId,
                 tqopcServerType tag);

 private:
  QString computerName_;
  tqopcServerSet servertype_ = svr_DA20 | svr_DA10 | svr_AE10;
  std::vector<std::unique_ptr<TqopcServerItem>> items_;
};

/// Replaces list with the ProgIDs of the classes registered on this computer
/// with the "OPC" marker, in registration order. Reports no errors.
void GetOPCServers(QStringList& list);
