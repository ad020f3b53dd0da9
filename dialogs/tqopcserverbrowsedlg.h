// TqopcServerBrowseDlg: the "Select OPC Server" dialog. The user names a
// computer (empty: this one), searches it for OPC servers and picks one from
// a tree grouped by category: "DA Servers 1.0", "DA Servers 2.0",
// "AE Servers 1.0". A server found in several categories is shown under
// each. The selected server's ProgID and class id fill two read-only fields.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "core/tqopcserverbrowser.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TqopcServerBrowseDlg : public QDialog {
  Q_OBJECT

 public:
  /// The data role of a server's tree node holding its TqopcServerItem*
  /// (owned by ServerBrowser, valid until the next search).
  static constexpr int ServerItemRole = Qt::UserRole + 1;

  /// Builds the form with its controls (named as in the form: Panel1,
  /// eComputername, bSearch, eServerName, bOk, eServerClsId, bCancel,
  /// TreeView1 and the labels) and its own server enumeration (FormCreate).
  explicit TqopcServerBrowseDlg(QWidget* parent = nullptr);
  /// Frees the server enumeration (FormDestroy).
  ~TqopcServerBrowseDlg() override;

  QString ComputerName() const;
  void SetComputerName(const QString& value);
  /// The ProgID of the selected server, as shown.
  QString ServerName() const;
  /// The class id text of the selected server, as shown.
  QString ServerClsId() const;
  /// The dialog's server enumeration, owned by the form.
  TqopcServerBrowser* ServerBrowser() const { return serverBrowser_.get(); }

  // ---- the form's event handlers; a raised failure reaches the caller
  // (when the controls call them, it goes to the application's exception
  // handler and the dialog stays open) ----
  /// Searches the computer named in the computer name field under the busy
  /// cursor (restored on every path) and fills the tree; says so when
  /// nothing was found. Raises EOleSysError when the enumeration fails.
  void bSearchClick();
  /// The selected node's server fills the two fields; a category node
  /// empties them.
  void TreeView1Change();
  /// Closes with Accepted when a server is shown, otherwise with Rejected.
  void bOkClick();

  // ---- operations ----
  /// Adds a server under the node of each of its categories (DA 1.0, DA 2.0,
  /// AE 1.0 in this order), creating a category's node when first needed.
  void ServerToTreeView(TqopcServerItem* server);
  /// Empties the tree and forgets the category nodes.
  void ClearTreeView();

 private:
  void FormCreate();
  void FormDestroy();

  QFrame* Panel1;
  QLabel* Label1;
  QLineEdit* eComputername;
  QPushButton* bSearch;
  QLabel* Label2;
  QLineEdit* eServerName;
  QPushButton* bOk;
  QLabel* Label3;
  QLineEdit* eServerClsId;
  QPushButton* bCancel;
  QTreeWidget* TreeView1;

  std::unique_ptr<TqopcServerBrowser> serverBrowser_;
  QTreeWidgetItem* da10Node_ = nullptr;
  QTreeWidgetItem* da20Node_ = nullptr;
  QTreeWidgetItem* ae10Node_ = nullptr;
};

/// Lets the user choose an OPC server of a computer. Computer pre-fills the
/// computer name (the other two are not shown). Whatever the user does,
/// ServerName, ClsId and Computer receive, in this order, what the dialog
/// shows when it closes; the result is true when the user confirmed a
/// server.
bool qopcBrowseServer(QString& Computer, QString& ServerName, QString& ClsId);
