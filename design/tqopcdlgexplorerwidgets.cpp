// The Inspector window's widgets, menus and handler connections.
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

#include "dialogglyphs.h"
#include "dialogsupport_p.h"
#include "tqopcdlgexplorer.h"

using veze6::dialogs::KeepSelectionVisible;
using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

// An editable combo box that says when its list is about to drop down, so
// the list can be filled first.
class DropDownComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> onDropDown;

  void showPopup() override {
    if (onDropDown) onDropDown();
    QComboBox::showPopup();
  }
};

QLabel* captionLabel(const QString& text, const char* name, QWidget* parent, bool bold = false) {
  QLabel* label = Named(new QLabel(text, parent), name);
  if (bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

QLabel* valueLabel(const char* name, QWidget* parent) {
  QLabel* label = Named(new QLabel(parent), name);
  label->setProperty(TqOPCDlgExplorer::TagProperty, 1);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));  // navy
  label->setPalette(palette);
  return label;
}

QToolButton* speedButton(const char* name, const QIcon& icon, const QString& hint,
                         QWidget* parent) {
  QToolButton* button = Named(new QToolButton(parent), name);
  button->setAutoRaise(true);  // flat until the pointer is over it
  button->setIcon(icon);
  button->setIconSize(QSize(16, 16));
  button->setFixedSize(25, 25);
  button->setToolTip(hint);
  button->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
  return button;
}

QAction* menuEntry(QMenu* menu, const QString& text, const char* name) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QLatin1String(name));
  return action;
}

}  // namespace

TqOPCDlgExplorer::TqOPCDlgExplorer(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("qOPCDlgExplorer"));
  setWindowTitle(tr("OPC Inspector"));
  // A sizeable window with only a close button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  resize(696, 446);

  // Made in this order, which is the order of the window's children.
  buildMenu();
  QWidget* topPanel = buildServerBar();
  QWidget* splitter = buildViews();
  buildPopups();
  QWidget* groupPanel = buildGroupPanel();
  QWidget* serverPanel = buildServerPanel();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(MainMenu1);
  layout->addWidget(topPanel);
  layout->addWidget(splitter, 1);
  layout->addWidget(groupPanel);
  layout->addWidget(serverPanel);

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(1000);

  connectHandlers();
  Timer1->start();
}

// The main menu.
void TqOPCDlgExplorer::buildMenu() {
  MainMenu1 = Named(new QMenuBar(this), "MainMenu1");
  File1 = Named(MainMenu1->addMenu(tr("File")), "File1");
  Exit1 = menuEntry(File1, tr("Exit"), "Exit1");
  Exit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
}

// The top panel: the server and the three speed buttons.
QWidget* TqOPCDlgExplorer::buildServerBar() {
  auto* topPanel = Named(new QFrame(this), "Panel1");
  topPanel->setFixedHeight(41);
  ServerCombo = Named(new DropDownComboBox(topPanel), "ServerCombo");
  ServerCombo->setEditable(true);
  ServerCombo->setInsertPolicy(QComboBox::NoInsert);  // the list holds what was found
  ServerCombo->setFixedWidth(393);
  ServerCombo->setToolTip(tr("Select OPC Server"));
  bRemoteSelect = speedButton("bRemoteSelect", veze6::dialogs::ComputerGlyph(),
                              tr("select OPC Server with OPCENUM.EXE"), topPanel);
  bConnect =
      speedButton("bConnect", veze6::dialogs::ConnectGlyph(), tr("Connect to server"), topPanel);
  BDisconnect = speedButton("BDisconnect", veze6::dialogs::DisconnectGlyph(),
                            tr("Disconnect from server"), topPanel);
  auto* top = new QHBoxLayout(topPanel);
  top->setContentsMargins(8, 0, 8, 0);
  top->setSpacing(4);
  top->addWidget(ServerCombo);
  top->addWidget(bRemoteSelect);
  top->addWidget(bConnect);
  top->addWidget(BDisconnect);
  top->addStretch(1);
  return topPanel;
}

// The middle: groups on the left, the selected group's items on the right.
QWidget* TqOPCDlgExplorer::buildViews() {
  auto* splitter = Named(new QSplitter(Qt::Horizontal, this), "Splitter1");
  splitter->setHandleWidth(5);
  splitter->setChildrenCollapsible(false);
  TreeView1 = Named(new QTreeWidget(splitter), "TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setColumnCount(1);
  TreeView1->setRootIsDecorated(false);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  KeepSelectionVisible(TreeView1);
  TreeView1->setIconSize(QSize(16, 16));
  TreeView1->setToolTip(tr("click right mousekey to edit groups"));
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  ItemView = Named(new QTreeWidget(splitter), "ItemView");
  ItemView->setColumnCount(6);
  ItemView->setHeaderLabels(
      {tr("ItemId"), tr("Accesspath"), tr("Active"), tr("Value"), tr("Quality"), tr("Timestamp")});
  ItemView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  ItemView->header()->setStretchLastSection(false);
  ItemView->setRootIsDecorated(false);
  ItemView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ItemView->setSelectionMode(QAbstractItemView::SingleSelection);
  ItemView->setToolTip(tr("click right mousekey to edit Items"));
  ItemView->setContextMenuPolicy(Qt::CustomContextMenu);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({121, 696 - 121 - 5});
  return splitter;
}

// The context menus of the two views.
void TqOPCDlgExplorer::buildPopups() {
  GroupPopup = Named(new QMenu(this), "GroupPopup");
  AddGroup1 = menuEntry(GroupPopup, tr("Add Group..."), "AddGroup1");
  RemoveGroup1 = menuEntry(GroupPopup, tr("Remove Group"), "RemoveGroup1");
  RemoveallGroups1 = menuEntry(GroupPopup, tr("Remove all Groups"), "RemoveallGroups1");
  Properties1 = menuEntry(GroupPopup, tr("Properties..."), "Properties1");
  ItemPopup = Named(new QMenu(this), "ItemPopup");
  A1 = menuEntry(ItemPopup, tr("Add Item.."), "A1");
  RemoveItem1 = menuEntry(ItemPopup, tr("Remove Item"), "RemoveItem1");
  RemoveallItems1 = menuEntry(ItemPopup, tr("Remove all Items"), "RemoveallItems1");
  Active1 = menuEntry(ItemPopup, tr("Active"), "Active1");
  Active1->setCheckable(true);
  WriteValue1 = menuEntry(ItemPopup, tr("Write value..."), "WriteValue1");
}

// The group state strip.
QWidget* TqOPCDlgExplorer::buildGroupPanel() {
  auto* groupPanel = Named(new QFrame(this), "Panel2");
  groupPanel->setFixedHeight(56);
  groupPanel->setFrameShape(QFrame::StyledPanel);
  auto* groupGrid = new QGridLayout(groupPanel);
  groupGrid->setContentsMargins(8, 4, 8, 4);
  groupGrid->setHorizontalSpacing(24);
  groupGrid->addWidget(captionLabel(tr("Groupstate"), "Label1", groupPanel, true), 0, 0);
  groupGrid->addWidget(captionLabel(tr("Updaterate"), "Label2", groupPanel), 0, 1);
  groupGrid->addWidget(captionLabel(tr("Deadband"), "Label3", groupPanel), 0, 2);
  groupGrid->addWidget(captionLabel(tr("Active"), "Label4", groupPanel), 0, 3);
  LName = valueLabel("LName", groupPanel);
  LUpdate = valueLabel("LUpdate", groupPanel);
  LDeadBand = valueLabel("LDeadBand", groupPanel);
  LActive = valueLabel("LActive", groupPanel);
  groupGrid->addWidget(LName, 1, 0);
  groupGrid->addWidget(LUpdate, 1, 1);
  groupGrid->addWidget(LDeadBand, 1, 2);
  groupGrid->addWidget(LActive, 1, 3);
  groupGrid->setColumnStretch(0, 2);
  groupGrid->setColumnStretch(1, 1);
  groupGrid->setColumnStretch(2, 1);
  groupGrid->setColumnStretch(3, 2);
  return groupPanel;
}

// The server state panel.
QWidget* TqOPCDlgExplorer::buildServerPanel() {
  auto* serverPanel = Named(new QFrame(this), "Panel3");
  serverPanel->setFixedHeight(78);
  serverPanel->setFrameShape(QFrame::StyledPanel);
  auto* serverGrid = new QGridLayout(serverPanel);
  serverGrid->setContentsMargins(8, 4, 8, 2);
  serverGrid->setVerticalSpacing(1);
  serverGrid->setHorizontalSpacing(12);
  LServer = valueLabel("LServer", serverPanel);
  LState = valueLabel("LState", serverPanel);
  LStartTime = valueLabel("LStartTime", serverPanel);
  LUpdateTime = valueLabel("LUpdateTime", serverPanel);
  LInfo = valueLabel("LInfo", serverPanel);
  LInfo->setWordWrap(true);
  LInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lErrorinfo = Named(new QLabel(serverPanel), "lErrorinfo");
  QPalette red = lErrorinfo->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  lErrorinfo->setPalette(red);
  serverGrid->addWidget(captionLabel(tr("Severstate"), "Label5", serverPanel, true), 0, 0);
  serverGrid->addWidget(LServer, 0, 1, 1, 4);
  serverGrid->addWidget(captionLabel(tr("State"), "Label6", serverPanel), 1, 0);
  serverGrid->addWidget(LState, 1, 1);
  serverGrid->addWidget(captionLabel(tr("Start Time"), "Label7", serverPanel), 1, 2);
  serverGrid->addWidget(LStartTime, 1, 3);
  serverGrid->addWidget(captionLabel(tr("Last Update"), "Label8", serverPanel), 2, 2);
  serverGrid->addWidget(LUpdateTime, 2, 3);
  serverGrid->addWidget(LInfo, 1, 4, 2, 1);
  serverGrid->addWidget(lErrorinfo, 3, 0, 1, 5);
  serverGrid->setColumnStretch(1, 1);
  serverGrid->setColumnStretch(3, 1);
  serverGrid->setColumnStretch(4, 2);
  return serverPanel;
}

// Every handler runs through RunEvent: the event loop never sees a fault.
void TqOPCDlgExplorer::connectHandlers() {
  const auto on = [this](auto handler) {
    return [this, handler] { RunEvent(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(Exit1, &QAction::triggered, this, on(&TqOPCDlgExplorer::Exit1Click));
  connect(bConnect, &QToolButton::clicked, this, on(&TqOPCDlgExplorer::Connect));
  connect(BDisconnect, &QToolButton::clicked, this, on(&TqOPCDlgExplorer::BDisconnectClick));
  connect(bRemoteSelect, &QToolButton::clicked, this, on(&TqOPCDlgExplorer::bRemoteSelectClick));
  static_cast<DropDownComboBox*>(ServerCombo)->onDropDown =
      on(&TqOPCDlgExplorer::ServerComboDropDown);
  connect(Timer1, &QTimer::timeout, this, on(&TqOPCDlgExplorer::Timer1Timer));
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this,
          on(&TqOPCDlgExplorer::TreeView1Change));
  connect(AddGroup1, &QAction::triggered, this, on(&TqOPCDlgExplorer::AddGroup1Click));
  connect(RemoveGroup1, &QAction::triggered, this, on(&TqOPCDlgExplorer::RemoveGroup1Click));
  connect(RemoveallGroups1, &QAction::triggered, this,
          on(&TqOPCDlgExplorer::RemoveallGroups1Click));
  connect(Properties1, &QAction::triggered, this, on(&TqOPCDlgExplorer::Properties1Click));
  connect(ItemPopup, &QMenu::aboutToShow, this, on(&TqOPCDlgExplorer::ItemPopupPopup));
  connect(A1, &QAction::triggered, this, on(&TqOPCDlgExplorer::A1Click));
  connect(RemoveItem1, &QAction::triggered, this, on(&TqOPCDlgExplorer::RemoveItem1Click));
  connect(RemoveallItems1, &QAction::triggered, this, on(&TqOPCDlgExplorer::RemoveallItems1Click));
  connect(WriteValue1, &QAction::triggered, this, on(&TqOPCDlgExplorer::WriteValue1Click));
  // Triggering a checkable entry flips its mark first; the handler wants
  // the mark as the menu showed it.
  connect(Active1, &QAction::triggered, this, [this](bool checked) {
    Active1->setChecked(!checked);
    RunEvent(this, [this] { Active1Click(); });
  });
  connect(TreeView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { GroupPopup->popup(TreeView1->viewport()->mapToGlobal(at)); });
  connect(ItemView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ItemPopup->popup(ItemView->viewport()->mapToGlobal(at)); });
}
