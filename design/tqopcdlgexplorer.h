// TqOPCDlgExplorer: the "OPC Inspector" window. It works directly on one
// server component: the developer picks a server, connects, watches the
// server's status (polled once a second), watches the items' values as the
// server sends them, writes an item, and edits the component's groups and
// items through its collections and the runtime dialogs. Every change made in
// the window is a change of the component.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "core/tqopcgroup.h"
#include "core/tqopcserver.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TqOPCItem;

class TqOPCDlgExplorer : public QDialog {
  Q_OBJECT

 public:
  /// The dynamic property that marks the value labels (value 1): the labels
  /// ClearInfoLabel empties.
  static constexpr const char* TagProperty = "tag";

  /// Builds the window with its controls, named as the form names them
  /// (ServerCombo, bRemoteSelect, bConnect, BDisconnect, TreeView1, ItemView,
  /// the value labels LServer, LState, LStartTime, LUpdateTime, LInfo, LName,
  /// LUpdate, LDeadBand, LActive, lErrorinfo, the menus MainMenu1, GroupPopup,
  /// ItemPopup with their entries, Timer1). Timer1 runs from here on.
  explicit TqOPCDlgExplorer(QWidget* parent = nullptr);
  /// Gives the component the OnDatachange it had before the window showed,
  /// when the window's handler is still the one installed.
  ~TqOPCDlgExplorer() override;

  /// The columns of ItemView.
  enum ItemColumn { IdColumn, PathColumn, ActiveColumn, ValueColumn, QualityColumn, TimeColumn };

  /// The component being inspected; not owned. Set before the window is shown.
  QPointer<TqOPCServer> Server;

  /// The text of the server combo box (what closing the window stores as
  /// the component's ServerName).
  QString ServerComboText() const;
  /// The item a row of ItemView shows, or null (no row, or the item is gone).
  static TqOPCItem* RowItem(const QTreeWidgetItem* row);

  // ---- the form's event handlers. A fault they raise leaves them as an
  // exception; when a control calls them it goes to the application's
  // exception handler and the window stays as it is. ----
  /// Installs OPCServerError and OPCServerServerShutdown as the component's
  /// OnError and OnServerShutdown and OPCServerDatachange as its
  /// OnDatachange (keeping the one it had, to pass events on), clears the
  /// labels, shows the component's
  /// server name and one tree node per group.
  void FormShow();
  /// Connects the component to the server named in the combo box (a blank
  /// name: message "first select OPC Server") and starts the timer.
  void Connect();
  /// Disconnects the component; the next tick clears the labels.
  void BDisconnectClick();
  /// The server browse dialog on the component's computer: a chosen server's
  /// class id goes into the combo box; the computer named there becomes the
  /// component's ComputerName in every case.
  void bRemoteSelectClick();
  /// Fills the combo box's list with this computer's servers, once: only
  /// while the list is empty. The text typed stays.
  void ServerComboDropDown();
  /// One status poll: group state and server state into the labels; while
  /// disconnected it clears them and stops. A failing poll disconnects the
  /// component and clears the labels, silently.
  void Timer1Timer();
  /// The selected group's state into the group labels, or all labels
  /// cleared when there is none (or the component is disconnected).
  void ShowGroupState();
  /// The group the selected tree node names, or null. Owned by the component.
  TqOPCGroup* GetSelectedGroup() const;
  /// Empties every value label; LServer then reads "not connected".
  void ClearInfoLabel();
  /// The component's OnError while the window is shown: the text into
  /// lErrorinfo; the component still raises.
  void OPCServerError(QObject* Sender, const QString& Errorstring, bool& RaiseException);
  /// The component's OnServerShutdown while the window is shown: timer off,
  /// labels cleared, "Disconnect from Server" in lErrorinfo.
  void OPCServerServerShutdown(QObject* Sender, const QString& Reason);
  /// The component's OnDatachange while the window is shown: the rows of
  /// the listed items show their new value, quality and time stamp; then
  /// the handler the component had before gets the event.
  void OPCServerDatachange(QObject* Sender, TqOPCItemList* ItemList);
  /// The rows of the selected group's items, in collection order.
  void TreeView1Change();

  // The group menu.
  void AddGroup1Click();
  void RemoveGroup1Click();
  void RemoveallGroups1Click();
  void Properties1Click();
  // The item menu.
  void ItemPopupPopup();
  void A1Click();
  void RemoveItem1Click();
  void RemoveallItems1Click();
  void Active1Click();
  /// Asks for a text (the current value offered) and writes it to the
  /// selected row's item with WriteSync; a failure is raised.
  void WriteValue1Click();
  /// Adds one item per text to group (its default item made active first),
  /// with a row for each when group is the selected one.
  void AddNewItems(TqOPCGroup* Group, const QStringList& Strings);
  /// Closes the window.
  void Exit1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Construction, in the order the window's children are made.
  void buildMenu();
  QWidget* buildServerBar();
  QWidget* buildViews();
  void buildPopups();
  QWidget* buildGroupPanel();
  QWidget* buildServerPanel();
  void connectHandlers();
  void unhookDatachange();

  QTreeWidgetItem* selectedNode() const;
  QTreeWidgetItem* selectedRow() const;
  QTreeWidgetItem* addRow(TqOPCItem* item);
  static void showRow(QTreeWidgetItem* row);
  void clearRows();
  QTreeWidgetItem* addGroupNode(const QString& name);

  QMenuBar* MainMenu1;
  QMenu* File1;
  QAction* Exit1;
  QComboBox* ServerCombo;
  QToolButton* bRemoteSelect;
  QToolButton* bConnect;
  QToolButton* BDisconnect;
  QTreeWidget* TreeView1;
  QTreeWidget* ItemView;
  QMenu* GroupPopup;
  QAction* AddGroup1;
  QAction* RemoveGroup1;
  QAction* RemoveallGroups1;
  QAction* Properties1;
  QMenu* ItemPopup;
  QAction* A1;
  QAction* RemoveItem1;
  QAction* RemoveallItems1;
  QAction* Active1;
  QAction* WriteValue1;
  QLabel* LName;
  QLabel* LUpdate;
  QLabel* LDeadBand;
  QLabel* LActive;
  QLabel* LServer;
  QLabel* LState;
  QLabel* LStartTime;
  QLabel* LUpdateTime;
  QLabel* LInfo;
  QLabel* lErrorinfo;
  QTimer* Timer1;
  // What the component's OnDatachange was before the window hooked it.
  TOnOPCDataChangeEvent savedOnDatachange_;
  QPointer<TqOPCServer> hooked_;
};

/// Opens the Inspector on Server, modally; nothing for null. Only its
/// OnError, OnServerShutdown and OnDatachange are replaced while the window
/// is shown (the former OnDatachange still gets every data change); its
/// OnError, OnConnect, OnDisconnect, OnServerShutdown and OnDatachange are as
/// before afterwards. When the window closes, the combo box's text becomes the
/// component's ServerName (a different name disconnects it); a connected
/// component with an unchanged name stays connected.
void OPCExplorer(TqOPCServer* Server);
