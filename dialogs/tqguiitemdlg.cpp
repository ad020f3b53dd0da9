#include "tqguiitemdlg.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QScopeGuard>
#include <QShowEvent>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "binding/findqopcitem.h"
#include "dialogglyphs.h"
#include "dialogsupport_p.h"
#include "tqopcgroup.h"
#include "tqopcgroups.h"
#include "tqopcitem.h"
#include "tqopcitems.h"

using veze6::dialogs::KeepSelectionVisible;
using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

QToolButton* speedButton(QWidget* parent, const char* name, const QIcon& glyph) {
  auto* button = Named(new QToolButton(parent), name);
  button->setAutoRaise(true);  // flat until the pointer is over it
  button->setIcon(glyph);
  button->setIconSize(QSize(16, 16));
  button->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
  return button;
}

}  // namespace

TqGUIItemDlg::TqGUIItemDlg(QWidget* parent)
    : QDialog(parent),
      imageList1_{veze6::dialogs::ClosedFolderGlyph(), veze6::dialogs::OpenFolderGlyph()} {
  setObjectName(QStringLiteral("qGUIItemDlg"));
  setWindowTitle(tr("OPC Items"));
  // Only the close box in the title bar.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  resize(469, 400);

  TopPanel = Named(new QFrame(this), "TopPanel");
  TopPanel->setFrameShape(QFrame::NoFrame);
  bAssign = speedButton(TopPanel, "bAssign", veze6::dialogs::TickGlyph());
  SpeedButton2 = speedButton(TopPanel, "SpeedButton2", veze6::dialogs::CrossedCircleGlyph());
  Label1 = Named(new QLabel(tr("Set property "), TopPanel), "Label1");
  ePropName = Named(new QLineEdit(TopPanel), "ePropName");
  Label1->setBuddy(ePropName);
  Label3 = Named(new QLabel(tr("for Control"), TopPanel), "Label3");
  cDefault = Named(new QCheckBox(tr("default"), TopPanel), "cDefault");
  Label2 = Named(new QLabel(tr("Groups"), TopPanel), "Label2");

  // The row reads as a sentence: "Set property <name> for Control, default".
  auto* row = new QHBoxLayout;
  row->setSpacing(6);
  row->addWidget(bAssign);
  row->addWidget(SpeedButton2);
  row->addSpacing(4);
  row->addWidget(Label1);
  row->addWidget(ePropName, 1);
  row->addWidget(Label3);
  row->addSpacing(6);
  row->addWidget(cDefault);
  auto* panel = new QVBoxLayout(TopPanel);
  panel->setContentsMargins(4, 4, 6, 2);
  panel->setSpacing(6);
  panel->addLayout(row);
  panel->addWidget(Label2, 0, Qt::AlignLeft | Qt::AlignBottom);

  Splitter1 = Named(new QSplitter(Qt::Horizontal, this), "Splitter1");
  Splitter1->setChildrenCollapsible(false);

  TreeView1 = Named(new QTreeWidget(Splitter1), "TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setColumnCount(1);
  TreeView1->setRootIsDecorated(false);  // no lines or buttons at the top node
  TreeView1->setIndentation(19);
  TreeView1->setIconSize(QSize(16, 16));
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  KeepSelectionVisible(TreeView1);
  auto* top = new QTreeWidgetItem(TreeView1, QStringList{tr("OPC Groups")});
  top->setIcon(0, imageList1_[ClosedFolderImage]);
  top->setData(0, ImageIndexRole, ClosedFolderImage);

  ItemView = Named(new QTreeWidget(Splitter1), "ItemView");
  ItemView->setColumnCount(2);
  ItemView->setHeaderLabels({tr("OPC Item"), tr("Active")});
  ItemView->setRootIsDecorated(false);  // a plain list in rows and columns
  ItemView->setItemsExpandable(false);
  ItemView->setUniformRowHeights(true);
  ItemView->setAllColumnsShowFocus(true);
  ItemView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ItemView->setSelectionMode(QAbstractItemView::SingleSelection);
  ItemView->setSelectionBehavior(QAbstractItemView::SelectRows);
  KeepSelectionVisible(ItemView);
  QHeaderView* header = ItemView->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);  // "OPC Item" fills the width
  header->setSectionResizeMode(1, QHeaderView::ResizeToContents);

  Splitter1->addWidget(TreeView1);
  Splitter1->addWidget(ItemView);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({150, 319});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(TopPanel);
  layout->addWidget(Splitter1, 1);

  setTabOrder(ePropName, cDefault);
  setTabOrder(cDefault, TreeView1);
  setTabOrder(TreeView1, ItemView);

  connect(bAssign, &QToolButton::clicked, this,
          [this] { RunEvent(this, [this] { bAssignClick(); }); });
  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { RunEvent(this, [this] { SpeedButton2Click(); }); });
  connect(ItemView, &QTreeWidget::doubleClicked, this,
          [this] { RunEvent(this, [this] { ItemViewDblClick(); }); });
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this,
          [this] { RunEvent(this, [this] { TreeView1Change(); }); });
}

TqGUIItemDlg::~TqGUIItemDlg() {
  // Tearing the tree down changes its selection; no handler may run on a
  // half-destroyed form.
  TreeView1->disconnect(this);
}

bool TqGUIItemDlg::IsDefault() const { return cDefault->isChecked(); }
void TqGUIItemDlg::SetIsDefault(bool value) { cDefault->setChecked(value); }

void TqGUIItemDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RunEvent(this, [this] { FormShow(); });
}

void TqGUIItemDlg::FormShow() {
  FillTreeview();
  ePropName->setText(propName_);
  ePropName->setFocus();
  if (itemId_.isEmpty()) return;
  for (int i = 0; i < ItemView->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ItemView->topLevelItem(i);
    if (row->text(0) == itemId_) row->setSelected(true);
  }
}

void TqGUIItemDlg::Exit1Click() { reject(); }

void TqGUIItemDlg::SpeedButton2Click() { reject(); }

void TqGUIItemDlg::FillTreeview() {
  QTreeWidgetItem* top = TreeView1->topLevelItem(0);
  // A second showing of the form lists the groups anew, not twice.
  qDeleteAll(top->takeChildren());
  QTreeWidgetItem* remembered = nullptr;
  if (server_) {
    const TqOPCGroups* groups = server_->OPCGroups();
    for (int i = 0; i < groups->Count(); ++i) {
      const QString name = groups->Items(i)->Name();
      auto* node = new QTreeWidgetItem(top, QStringList{name});
      node->setIcon(0, imageList1_[ClosedFolderImage]);
      node->setData(0, ImageIndexRole, ClosedFolderImage);
      if (name == groupName_) remembered = node;  // with equal names the last one
    }
  }
  TreeView1->expandAll();
  if (remembered) TreeView1->setCurrentItem(remembered);  // fills the list
}

QTreeWidgetItem* TqGUIItemDlg::selectedNode() const {
  const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

TqOPCGroup* TqGUIItemDlg::GetSelectedGroup() const {
  const QTreeWidgetItem* node = selectedNode();
  // The top node names no group, even when a group bears its caption.
  if (!node || !server_ || node == TreeView1->topLevelItem(0)) return nullptr;
  return server_->OPCGroups()->GetOPCGroup(node->text(0));
}

void TqGUIItemDlg::showNodeImages() {
  const QTreeWidgetItem* selected = selectedNode();
  QTreeWidgetItem* top = TreeView1->topLevelItem(0);
  for (int i = 0; i < top->childCount(); ++i) {
    QTreeWidgetItem* node = top->child(i);
    const int image = node == selected ? OpenFolderImage : ClosedFolderImage;
    if (node->data(0, ImageIndexRole).toInt() == image) continue;
    node->setIcon(0, imageList1_[std::size_t(image)]);
    node->setData(0, ImageIndexRole, image);
  }
}

void TqGUIItemDlg::TreeView1Change() {
  ItemView->setUpdatesEnabled(false);
  const auto resume = qScopeGuard([this] { ItemView->setUpdatesEnabled(true); });
  ItemView->clear();
  showNodeImages();
  const TqOPCGroup* group = GetSelectedGroup();
  if (!group) return;
  const TqOPCItems* items = group->OPCItems();
  QTreeWidgetItem* firstChosen = nullptr;
  for (int i = 0; i < items->Count(); ++i) {
    const TqOPCItem* item = items->Items(i);
    auto* row = new QTreeWidgetItem(
        ItemView,
        QStringList{item->ItemID(), item->IsActive() ? QStringLiteral("X") : QStringLiteral(" ")});
    if (row->text(0) != itemId_) continue;
    row->setSelected(true);
    if (!firstChosen) firstChosen = row;
  }
  if (firstChosen) {
    // The keyboard goes on from the chosen row; the selection stays as it is.
    ItemView->selectionModel()->setCurrentIndex(ItemView->indexFromItem(firstChosen),
                                                QItemSelectionModel::NoUpdate);
    ItemView->scrollToItem(firstChosen);
  }
}

void TqGUIItemDlg::bAssignClick() {
  propName_ = ePropName->text().trimmed();
  const QTreeWidgetItem* node = selectedNode();
  if (node && node != TreeView1->topLevelItem(0)) groupName_ = node->text(0);
  const QTreeWidgetItem* row = nullptr;
  for (int i = 0; i < ItemView->topLevelItemCount() && !row; ++i) {
    if (ItemView->topLevelItem(i)->isSelected()) row = ItemView->topLevelItem(i);
  }
  if (!row) {
    itemId_.clear();
  } else if (FindqOPCItem(server_, groupName_, row->text(0))) {
    itemId_ = row->text(0);
  }
  accept();
}

void TqGUIItemDlg::ItemViewDblClick() { bAssignClick(); }

bool qGUISelectOPCItem(TqOPCServer* Server, QString& GroupName, QString& ItemId, QString& PropName,
                       bool& IsDefault) {
  TqGUIItemDlg form;
  form.SetServer(Server);
  form.SetGroupName(GroupName);
  form.SetItemId(ItemId);
  form.SetPropName(PropName);
  IsDefault = false;
  if (PropName.isEmpty()) form.SetIsDefault(true);
  if (form.exec() != QDialog::Accepted) return false;
  GroupName = form.GroupName();
  ItemId = form.ItemId();
  PropName = form.PropName();
  IsDefault = form.IsDefault();
  return true;
}
