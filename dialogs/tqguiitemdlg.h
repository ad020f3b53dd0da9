// TqGUIItemDlg: the "OPC Items" dialog. For one control of a form the user
// chooses the control property to set and the group and item of a server
// component whose value goes into it. Groups and items come from the
// component's own collections only; the dialog never talks to the server.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <array>

#include "core/tqopcserver.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QSplitter;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TqOPCGroup;

class TqGUIItemDlg : public QDialog {
  Q_OBJECT

 public:
  /// The data role of a tree node holding the index of the image it shows.
  static constexpr int ImageIndexRole = Qt::UserRole + 1;
  static constexpr int ClosedFolderImage = 0;
  static constexpr int OpenFolderImage = 1;

  /// Builds the form with its controls (named as in the form: TopPanel,
  /// bAssign, SpeedButton2, Label1, ePropName, Label3, cDefault, Label2,
  /// TreeView1, Splitter1, ItemView) and the fixed top node "OPC Groups".
  explicit TqGUIItemDlg(QWidget* parent = nullptr);
  ~TqGUIItemDlg() override;

  /// The server component whose groups and items are offered; not owned.
  /// Without one (or once it is destroyed) the tree holds only its top node.
  TqOPCServer* Server() const { return server_; }
  void SetServer(TqOPCServer* value) { server_ = value; }
  /// The chosen group's name: preselects a group when the form is shown.
  QString GroupName() const { return groupName_; }
  void SetGroupName(const QString& value) { groupName_ = value; }
  /// The chosen item's id: preselects its row when the form is shown.
  QString ItemId() const { return itemId_; }
  void SetItemId(const QString& value) { itemId_ = value; }
  /// The control property to set.
  QString PropName() const { return propName_; }
  void SetPropName(const QString& value) { propName_ = value; }
  /// Whether the "default" box is ticked.
  bool IsDefault() const;
  void SetIsDefault(bool value);

  /// The two pictures of the tree: a closed and an open folder. The
  /// selected group shows the open one.
  const std::array<QIcon, 2>& ImageList1() const { return imageList1_; }

  // ---- the form's event handlers ----
  /// Fills the tree (which preselects the group named GroupName), shows
  /// PropName with the focus on it, and selects the rows of ItemId.
  void FormShow();
  /// Closes with Rejected, like SpeedButton2Click and the close box. No
  /// control calls it.
  void Exit1Click();
  /// Refills the item list from the selected group.
  void TreeView1Change();
  /// Closes with Rejected.
  void SpeedButton2Click();
  /// Closes with Accepted and takes the choice: PropName from the edit
  /// without surrounding blanks; GroupName from the selected node unless it
  /// is the top node; ItemId from the selected row when that item exists in
  /// the group named GroupName (otherwise it stays), or empty without a
  /// selected row.
  void bAssignClick();
  /// A double click on a row: assigns, as bAssignClick.
  void ItemViewDblClick();

  // ---- operations ----
  /// One node per group under the top node, in collection order; selects
  /// the node of the group named GroupName (the last when several are).
  void FillTreeview();
  /// The group the selected node names, or null for no selection, the top
  /// node, or a name no group has. Owned by the server component.
  TqOPCGroup* GetSelectedGroup() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTreeWidgetItem* selectedNode() const;
  void showNodeImages();

  QFrame* TopPanel;
  QToolButton* bAssign;
  QToolButton* SpeedButton2;
  QLabel* Label1;
  QLineEdit* ePropName;
  QLabel* Label3;
  QCheckBox* cDefault;
  QLabel* Label2;
  QSplitter* Splitter1;
  QTreeWidget* TreeView1;
  QTreeWidget* ItemView;
  std::array<QIcon, 2> imageList1_;

  QPointer<TqOPCServer> server_;
  QString groupName_;
  QString itemId_;
  QString propName_;
};

/// Lets the user choose, for one control, the property to set and the group
/// and item of Server whose value goes into it. The "default" box starts
/// ticked when PropName is empty. True when the user assigned: GroupName,
/// ItemId and PropName receive the choice and IsDefault whether "default"
/// was ticked. False when cancelled: the strings stay as they were and
/// IsDefault is false.
bool qGUISelectOPCItem(TqOPCServer* Server, QString& GroupName, QString& ItemId, QString& PropName,
                       bool& IsDefault);
