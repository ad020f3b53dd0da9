// TqOPCBrowser: walks the address space of the server a TqOPCServer is
// connected to. It keeps the browse position as a list of branch names,
// lists the branches or the leaves there under a name, data type and
// access-rights filter, turns a listed name into an item id and lists an
// item's access paths. Every server component has one of its own (Browser);
// an application may create more and set their OPCServer itself.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

#include "opc/OPCDA.h"
#include "qopctypes.h"
#include "tcomponent.h"
#include "tqopcserver.h"

class TqOPCBrowser : public TComponent {
  Q_OBJECT
  Q_PROPERTY(TqOPCServer* OPCServer READ OPCServer WRITE SetOPCServer)
  Q_PROPERTY(QString Filter READ Filter WRITE SetFilter)
  Q_PROPERTY(qOPC::OPCADatatype Datatype READ Datatype WRITE SetDatatype)
  Q_PROPERTY(qOPC::OPCAcesstype AccessRights READ AccessRights WRITE SetAccessRights)

 public:
  /// owner (may be null) becomes the QObject parent. No server, no filters.
  explicit TqOPCBrowser(QObject* owner = nullptr);
  /// Releases the browse interface.
  ~TqOPCBrowser() override;

  // ---- published properties ----
  /// The server component browsed; not owned. Null when none (also after the
  /// server component has been destroyed).
  TqOPCServer* OPCServer() const { return server_; }
  /// Attaches server (null detaches): forgets the position, the listing, the
  /// organization and the browse interface, also when server is the one
  /// already set. Makes no server call.
  void SetOPCServer(TqOPCServer* server);
  /// OPC name filter of the next listing (empty: every name).
  QString Filter() const { return filter_; }
  void SetFilter(const QString& value) { filter_ = value; }
  /// Data type the listed items must have (vtEMPTY: any).
  OPCADatatype Datatype() const { return datatype_; }
  void SetDatatype(OPCADatatype value) { datatype_ = value; }
  /// Access rights the listed items must have (empty: any).
  OPCAcesstype AccessRights() const { return accessRights_; }
  void SetAccessRights(OPCAcesstype value) { accessRights_ = value; }

  // ---- server access ----
  /// The server's browse interface, asked for once per attachment and kept.
  /// Raises EOPCException "first define server object" (directly) without
  /// OPCServer; faults "not connected to server" or "Browser interface not
  /// found" through the server component. Empty when a fault was suppressed.
  ComPtr<IOPCBrowseServerAddressSpace> GetBrowser();
  /// True for a success code. A failure is reported through the server
  /// component's fault path as "Browser: " and the server's own text for the
  /// code (or the library's text when the server has none); false when that
  /// fault was suppressed.
  bool Check(HRESULT result);
  /// OPC_NS_HIERARCHIAL (1) or OPC_NS_FLAT (2), asked once per attachment;
  /// -1 after a failed query (asked again next time).
  int GetOrganization();

  // ---- moving: false in a flat name space and for a move the server
  // refuses (its fault is swallowed); faults while reading the organization
  // reach the caller ----
  /// One level down into the named branch.
  bool MoveDown(const QString& name);
  /// One level up (at the root the position stays the root).
  bool Moveup();
  /// To the dotted path, handed to the server in one call and mirrored into
  /// Levels split at each ".". The empty path is the root.
  bool Moveto(const QString& path);
  bool MovetoRoot();
  /// Levels joined with "."; empty at the root.
  QString GetCurrentPosition() const { return levels_.join(QLatin1Char('.')); }

  // ---- listing ----
  /// Fills Tags with the names of browseType (OPC_BRANCH, OPC_LEAF or
  /// OPC_FLAT) at the current position, under the filters. A flat name space
  /// has no branches (no server call). Faults reach the caller; a suppressed
  /// one leaves Tags empty.
  void GetOPCTags(int browseType);
  /// The branches here.
  void ShowBranches() { GetOPCTags(OPC_BRANCH); }
  /// The leaves here, or with flat (or in a flat name space) every item id.
  void ShowLeafs(bool flat);
  /// Entries in Tags.
  int GetCount() const { return int(tags_.size()); }
  /// The fully qualified item id of a name listed at the current position;
  /// empty when the server refuses (and the fault was suppressed).
  QString GetItemId(const QString& name);
  /// Replaces target with the access paths of the item; empty when the
  /// server has none or refuses (and the fault was suppressed).
  void GetAccessPath(const QString& itemId, QStringList& target);

  /// The names of the last listing, in the server's order.
  const QStringList& Tags() const { return tags_; }
  /// The branches between the root and the current position, root first.
  const QStringList& Levels() const { return levels_; }

 protected:
  /// The attached server component is being destroyed: detach. Called from
  /// its destroyed() signal; the dying object is never touched.
  void Notification(QObject* component);

 private:
  bool move(OPCBROWSEDIRECTION direction, const QString& argument,
            const std::function<void()>& onSuccess);
  void forget();

  QPointer<TqOPCServer> server_;
  QMetaObject::Connection serverDestroyed_;
  QString filter_;
  OPCADatatype datatype_ = vtEMPTY;
  OPCAcesstype accessRights_;
  ComPtr<IOPCBrowseServerAddressSpace> browse_;
  QStringList tags_;
  QStringList levels_;
  int organization_ = -1;
};
