#include "tqopcdlgexplorer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <string_view>

#include "application.h"
#include "dialogglyphs.h"
#include "dialogsupport_p.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCBrowseDlg.h"
#include "qOPCErrors.h"
#include "qOPCGroupDlg.h"
#include "qOPCServerDlg.h"
#include "qopcconversions.h"
#include "qopclogging.h"
#include "qopcstrings.h"
#include "tqopcitem.h"
#include "tqopcitemlist.h"
#include "tqopcserverbrowser.h"

using veze6::dialogs::KeepSelectionVisible;
using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

// A row of the item list. It follows its item through a guarded pointer, so
// a row whose item was destroyed elsewhere shows nothing stale and reaches
// nothing.
class ItemRow : public QTreeWidgetItem {
 public:
  explicit ItemRow(TqOPCItem* item) : item_(item) {}
  TqOPCItem* item() const { return item_; }

 private:
  QPointer<TqOPCItem> item_;
};

// The busy cursor for as long as it lives.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// The user's number format, without digit grouping, as the group dialog
// shows a dead band.
QLocale userNumbers() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale;
}

// A time of the server's status as text; 0 (no time) reads as the start of
// the calendar, as the platform shows it.
QString dateTimeText(TDateTime value) { return VarToAStr(OleVariant::fromDate(value)); }

// The quality word with its class, e.g. "good (192)".
QString qualityText(qint32 quality) {
  const char* kind = QT_TRANSLATE_NOOP("TqOPCDlgExplorer", "bad");
  if ((quality & OPC_QUALITY_GOOD) == OPC_QUALITY_GOOD)
    kind = QT_TRANSLATE_NOOP("TqOPCDlgExplorer", "good");
  else if (quality & OPC_QUALITY_UNCERTAIN)
    kind = QT_TRANSLATE_NOOP("TqOPCDlgExplorer", "uncertain");
  return QStringLiteral("%1 (%2)").arg(TqOPCDlgExplorer::tr(kind)).arg(quality);
}

}  // namespace

TqOPCDlgExplorer::~TqOPCDlgExplorer() { unhookDatachange(); }

void TqOPCDlgExplorer::unhookDatachange() {
  // Only our own handler is replaced: one installed after ours (a binding
  // component linking meanwhile) stays, and may still call ours.
  if (hooked_ &&
      hooked_->OnDatachange == TOnOPCDataChangeEvent(this, &TqOPCDlgExplorer::OPCServerDatachange))
    hooked_->OnDatachange = savedOnDatachange_;
  hooked_ = nullptr;
  savedOnDatachange_ = nullptr;
}

QString TqOPCDlgExplorer::ServerComboText() const { return ServerCombo->currentText(); }

TqOPCItem* TqOPCDlgExplorer::RowItem(const QTreeWidgetItem* row) {
  const auto* itemRow = dynamic_cast<const ItemRow*>(row);
  return itemRow ? itemRow->item() : nullptr;
}

void TqOPCDlgExplorer::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RunEvent(this, [this] { FormShow(); });
}

void TqOPCDlgExplorer::FormShow() {
  if (Server) {
    Server->OnError = TOnOPCErrorEvent(this, &TqOPCDlgExplorer::OPCServerError);
    Server->OnServerShutdown =
        TOnOPCServerShutdownEvent(this, &TqOPCDlgExplorer::OPCServerServerShutdown);
    // Shown again on the same component: saving our own handler would make
    // the chain call itself.
    const TOnOPCDataChangeEvent own(this, &TqOPCDlgExplorer::OPCServerDatachange);
    if (hooked_ != Server || !(Server->OnDatachange == own)) {
      unhookDatachange();
      savedOnDatachange_ = Server->OnDatachange;
      hooked_ = Server;
      Server->OnDatachange = own;
    }
  }
  ClearInfoLabel();
  lErrorinfo->clear();
  ServerCombo->setEditText(Server ? Server->ServerName() : QString());
  clearRows();
  TreeView1->clear();
  if (!Server) return;
  TqOPCGroups* groups = Server->OPCGroups();
  for (int i = 0; i < groups->Count(); ++i) addGroupNode(groups->Items(i)->Name());
}

void TqOPCDlgExplorer::ClearInfoLabel() {
  for (QLabel* label : findChildren<QLabel*>())
    if (label->property(TagProperty).toInt() == 1) label->clear();
  LServer->setText(tr("not connected"));
}

void TqOPCDlgExplorer::Connect() {
  if (ServerCombo->currentText().trimmed().isEmpty()) {
    ShowMessage(tr("first select OPC Server"));
    return;
  }
  if (!Server) return;
  lErrorinfo->clear();
  Server->SetServer(ServerCombo->currentText());
  Server->SetActive(true);
  Timer1->start();
}

void TqOPCDlgExplorer::BDisconnectClick() {
  if (Server) Server->SetActive(false);
}

void TqOPCDlgExplorer::bRemoteSelectClick() {
  if (!Server) return;
  QString computer = Server->ComputerName();
  QString serverName;
  QString clsId;
  if (qopcBrowseServer(computer, serverName, clsId)) ServerCombo->setEditText(clsId);
  if (Server) Server->SetComputername(computer);
}

void TqOPCDlgExplorer::ServerComboDropDown() {
  QStringList entries;
  for (int i = 0; i < ServerCombo->count(); ++i) entries << ServerCombo->itemText(i);
  if (!entries.join(QLatin1Char('\n')).trimmed().isEmpty()) return;
  QStringList servers;
  {
    BusyCursor busy;
    const QString computer = Server ? Server->ComputerName().trimmed() : QString();
    if (computer.isEmpty()) {
      GetOPCServers(servers);
    } else {
      // The servers of the computer the component connects to.
      TqopcServerBrowser browser;
      browser.SetServertype(svr_DA10 | svr_DA20);
      try {
        browser.GetOPCServers(computer);
      } catch (const Exception& e) {
        lErrorinfo->setText(e.Message());
      }
      for (int i = 0; i < browser.GetCount(); ++i)
        if (!servers.contains(browser.GetItems(i)->ProgID)) servers << browser.GetItems(i)->ProgID;
    }
  }
  // Filling the list would make its first entry the text: the typed text
  // stays.
  const QString text = ServerCombo->currentText();
  ServerCombo->clear();
  ServerCombo->addItems(servers);
  ServerCombo->setCurrentIndex(-1);
  ServerCombo->setEditText(text);
}

void TqOPCDlgExplorer::Timer1Timer() {
  Timer1->stop();
  if (!Server || !Server->Active()) {
    ClearInfoLabel();
    return;
  }
  try {
    ShowGroupState();
    const tServerStateRec state = Server->GetState();
    LServer->setText(Server->ServerName());
    LState->setText(ServerStateToStr(state.ServerState));
    LInfo->setText(state.VendorInfo);
    LStartTime->setText(dateTimeText(state.StartTime));
    LUpdateTime->setText(dateTimeText(state.LastUpdateTime));
    Timer1->start();
  } catch (const std::exception& e) {
    // A server that cannot tell its state is given up: the component is
    // disconnected (a fault it reported is in lErrorinfo already).
    const auto* ex = dynamic_cast<const Exception*>(&e);
    qCWarning(lcDesign) << "status of" << Server->ServerName()
                        << "unreadable, disconnecting:" << (ex ? ex->Message() : e.what());
    Timer1->stop();
    try {
      if (Server) Server->SetActive(false);
    } catch (const std::exception&) {
    }
    ClearInfoLabel();
  }
}

void TqOPCDlgExplorer::ShowGroupState() {
  TqOPCGroup* group = Server && Server->Active() ? GetSelectedGroup() : nullptr;
  if (!group) {
    ClearInfoLabel();
    return;
  }
  tGroupStateRec state;
  group->GetState(state);
  LName->setText(state.Name);
  LUpdate->setText(QString::number(state.UpdateRate));
  LDeadBand->setText(userNumbers().toString(double(state.PercentDeadband), 'f', 2));
  LActive->setText(state.Active ? tr("active") : tr("not active"));
}

TqOPCGroup* TqOPCDlgExplorer::GetSelectedGroup() const {
  QTreeWidgetItem* node = selectedNode();
  if (!node || !Server) return nullptr;
  return Server->OPCGroups()->GetOPCGroup(node->text(0));
}

void TqOPCDlgExplorer::OPCServerError(QObject*, const QString& Errorstring, bool&) {
  lErrorinfo->setText(Errorstring);
}

void TqOPCDlgExplorer::OPCServerServerShutdown(QObject*, const QString&) {
  Timer1->stop();
  ClearInfoLabel();
  lErrorinfo->setText(tr("Disconnect from Server"));
}

void TqOPCDlgExplorer::OPCServerDatachange(QObject* Sender, TqOPCItemList* ItemList) {
  // Held before the rows are touched: the application's handler may close
  // this window.
  const TOnOPCDataChangeEvent next = savedOnDatachange_;
  if (ItemList) {
    QSet<const TqOPCItem*> changed;
    for (int i = 0; i < ItemList->Count(); ++i)
      if (const TqOPCItem* item = ItemList->Items(i)) changed.insert(item);
    for (int i = 0; i < ItemView->topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = ItemView->topLevelItem(i);
      if (changed.contains(RowItem(row))) showRow(row);
    }
  }
  next(Sender, ItemList);
}

void TqOPCDlgExplorer::TreeView1Change() {
  clearRows();
  TqOPCGroup* group = GetSelectedGroup();
  if (!group) return;
  TqOPCItems* items = group->OPCItems();
  for (int i = 0; i < items->Count(); ++i) addRow(items->Items(i));
}

void TqOPCDlgExplorer::AddGroup1Click() {
  if (!Server) return;
  TqDefaultGroup* defaults = Server->OPCGroupDefault();
  tGroupStateRec state;
  state.UpdateRate = defaults->UpdateRate;
  state.Active = defaults->IsActive;
  state.LCID = defaults->LocaleId;
  state.PercentDeadband = defaults->DeadBand;
  state.TimeBias = defaults->TimeBias;
  if (!OPCEditGroupDialog(state) || !Server) return;
  // The values entered stay the defaults of later groups as well.
  defaults->UpdateRate = state.UpdateRate;
  defaults->IsActive = state.Active;
  defaults->LocaleId = state.LCID;
  defaults->DeadBand = state.PercentDeadband;
  defaults->TimeBias = state.TimeBias;
  TqOPCGroups* groups = Server->OPCGroups();
  const bool nameInUse = groups->Exists(state.Name) >= 0;
  try {
    groups->Add(state.Name);
  } catch (const std::exception&) {
    // A group the server refused stays in the component, local: it is shown
    // like any other group, and the failure passed on.
    if (!nameInUse && groups->Exists(state.Name) >= 0) {
      QTreeWidgetItem* node = addGroupNode(state.Name);
      TreeView1->setCurrentItem(node);
    }
    throw;
  }
  QTreeWidgetItem* node = addGroupNode(state.Name);
  TreeView1->setCurrentItem(node);
  TreeView1->setFocus();
}

void TqOPCDlgExplorer::RemoveGroup1Click() {
  QTreeWidgetItem* node = selectedNode();
  if (!node || !Server) return;
  Server->OPCGroups()->Remove(node->text(0));
  clearRows();
  delete node;
}

void TqOPCDlgExplorer::RemoveallGroups1Click() {
  if (!Server) return;
  Server->OPCGroups()->RemoveAll();
  clearRows();
  TreeView1->clear();
}

void TqOPCDlgExplorer::Properties1Click() {
  QTreeWidgetItem* node = selectedNode();
  if (!node) {
    ShowMessage(tr("First select Group"));
    return;
  }
  TqOPCGroup* group = GetSelectedGroup();
  if (!group) {
    ShowMessage(tr("ERROR"));
    return;
  }
  tGroupStateRec state;
  state.Name = group->Name();
  state.UpdateRate = group->UpdateRate();
  state.Active = group->IsActive();
  state.LCID = group->LocaleId();
  state.PercentDeadband = group->DeadBand();
  state.TimeBias = group->TimeBias();
  QPointer<TqOPCGroup> edited(group);
  if (!OPCEditGroupDialog(state) || !edited) return;
  // Two groups of one name could no longer be told apart by their nodes:
  // a name another group has is refused before anything changes.
  const int holder = Server ? Server->OPCGroups()->Exists(state.Name) : -1;
  if (holder >= 0 && Server->OPCGroups()->Items(holder) != edited)
    throw EOPCException(Format(_STR_GROUPEXITS(), {state.Name}));
  edited->SetName(state.Name);
  node->setText(0, state.Name);
  edited->SetUpdateRate(state.UpdateRate);
  edited->SetIsActive(state.Active);
  edited->SetLocaleId(state.LCID);
  edited->SetDeadBand(state.PercentDeadband);
  edited->SetTimeBias(state.TimeBias);
}

void TqOPCDlgExplorer::ItemPopupPopup() {
  const bool groupSelected = GetSelectedGroup() != nullptr;
  for (QAction* entry : ItemPopup->actions()) entry->setEnabled(groupSelected);
  if (!groupSelected) return;
  TqOPCItem* item = RowItem(selectedRow());
  WriteValue1->setEnabled(item != nullptr);
  if (item) Active1->setChecked(item->IsActive());
}

void TqOPCDlgExplorer::A1Click() {
  if (!Server) return;
  QStringList list;
  if (OPCBrowseDialog(Server->Browser(), list, false)) AddNewItems(GetSelectedGroup(), list);
}

void TqOPCDlgExplorer::AddNewItems(TqOPCGroup* Group, const QStringList& Strings) {
  if (!Group) return;
  QPointer<TqOPCGroup> group(Group);
  for (const QString& itemId : Strings) {
    if (!group) return;
    group->DefaultItem()->IsActive = true;
    TqOPCItems* items = group->OPCItems();
    const int before = items->Count();
    TqOPCItem* item = nullptr;
    try {
      item = items->AddItem(itemId);
    } catch (const std::exception&) {
      // An item the server refused stays in its group: it gets its row like
      // the others, and the failure is passed on.
      if (group && items->Count() > before && group == GetSelectedGroup())
        addRow(items->Items(items->Count() - 1));
      throw;
    }
    if (group == GetSelectedGroup()) addRow(item);
  }
}

void TqOPCDlgExplorer::RemoveItem1Click() {
  QTreeWidgetItem* row = selectedRow();
  if (!row) return;
  TqOPCItem* item = RowItem(row);
  // The item is gone even when taking it off the server failed: its row
  // goes with it before the failure is passed on.
  std::unique_ptr<QTreeWidgetItem> rowGone(row);
  if (item) item->Free();
}

void TqOPCDlgExplorer::RemoveallItems1Click() {
  TqOPCGroup* group = GetSelectedGroup();
  if (!group) return;
  struct ClearRows {
    TqOPCDlgExplorer* form;
    ~ClearRows() { form->clearRows(); }
  } clear{this};
  group->OPCItems()->RemoveAll();
}

void TqOPCDlgExplorer::Active1Click() {
  QTreeWidgetItem* row = selectedRow();
  TqOPCItem* item = RowItem(row);
  if (!item) return;
  // The item stores the new flag before it tells the server, so the row
  // shows it even when the server refused.
  struct Redraw {
    QTreeWidgetItem* row;
    ~Redraw() { showRow(row); }
  } redraw{row};
  item->SetIsActive(!Active1->isChecked());
}

void TqOPCDlgExplorer::WriteValue1Click() {
  QPointer<TqOPCItem> item(RowItem(selectedRow()));
  if (!item) return;
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, tr("Write value"), tr("Value for %1:").arg(item->ItemID()),
                            QLineEdit::Normal, item->ValueStr(), &ok);
  // The item may have gone while the question was open.
  if (!ok || !item) return;
  // Sent as text: the server converts it to the item's own type.
  item->WriteSync(OleVariant(std::u16string_view(text.toStdU16String())));
}

void TqOPCDlgExplorer::Exit1Click() { close(); }

QTreeWidgetItem* TqOPCDlgExplorer::selectedNode() const {
  const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem* TqOPCDlgExplorer::selectedRow() const {
  const QList<QTreeWidgetItem*> selected = ItemView->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem* TqOPCDlgExplorer::addRow(TqOPCItem* item) {
  auto* row = new ItemRow(item);
  showRow(row);
  ItemView->addTopLevelItem(row);
  return row;
}

void TqOPCDlgExplorer::showRow(QTreeWidgetItem* row) {
  TqOPCItem* item = RowItem(row);
  if (!item) {
    for (int column = IdColumn; column <= TimeColumn; ++column) row->setText(column, QString());
    return;
  }
  row->setText(IdColumn, item->ItemID());
  row->setText(PathColumn, item->AccessPath());
  row->setText(ActiveColumn, item->IsActive() ? QStringLiteral("X") : QStringLiteral(" "));
  // Blank until the server sent the item anything.
  const bool received = item->TimeStamp() != 0 || !item->Value().isEmpty();
  row->setText(ValueColumn, received ? item->ValueStr() : QString());
  row->setText(QualityColumn, received ? qualityText(item->Quality()) : QString());
  row->setText(TimeColumn, item->TimeStamp() != 0 ? dateTimeText(item->TimeStamp()) : QString());
}

void TqOPCDlgExplorer::clearRows() { ItemView->clear(); }

QTreeWidgetItem* TqOPCDlgExplorer::addGroupNode(const QString& name) {
  auto* node = new QTreeWidgetItem(TreeView1, {name});
  node->setIcon(0, veze6::dialogs::ClosedFolderGlyph());
  return node;
}

void OPCExplorer(TqOPCServer* Server) {
  if (!Server) return;
  QPointer<TqOPCServer> server(Server);
  const TOnOPCErrorEvent onError = Server->OnError;
  const TOnOPCConnectEvent onConnect = Server->OnConnect;
  const TOnOPCConnectEvent onDisconnect = Server->OnDisconnect;
  const TOnOPCServerShutdownEvent onServerShutdown = Server->OnServerShutdown;
  // The handlers are given back however the window ends, also when storing
  // the name fails.
  struct GiveBack {
    QPointer<TqOPCServer>& server;
    const TOnOPCErrorEvent& onError;
    const TOnOPCConnectEvent& onConnect;
    const TOnOPCConnectEvent& onDisconnect;
    const TOnOPCServerShutdownEvent& onServerShutdown;
    ~GiveBack() {
      if (!server) return;
      server->OnError = onError;
      server->OnConnect = onConnect;
      server->OnDisconnect = onDisconnect;
      server->OnServerShutdown = onServerShutdown;
    }
  } giveBack{server, onError, onConnect, onDisconnect, onServerShutdown};
  TqOPCDlgExplorer form;
  form.Server = Server;
  form.exec();
  if (server) server->SetServer(form.ServerComboText());
}
