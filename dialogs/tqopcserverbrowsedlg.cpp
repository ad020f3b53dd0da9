#include "tqopcserverbrowsedlg.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "application.h"
#include "dialogsupport_p.h"

using veze6::dialogs::KeepSelectionVisible;
using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

QLineEdit* readOnlyField(QWidget* parent, const char* name) {
  auto* edit = Named(new QLineEdit(parent), name);
  edit->setReadOnly(true);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, QColor(0xc0, 0xc0, 0xc0));  // silver
  edit->setPalette(palette);
  return edit;
}

}  // namespace

TqopcServerBrowseDlg::TqopcServerBrowseDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("qopcServerBrowseDlg"));
  setWindowTitle(tr("Select OPC Server"));
  resize(511, 362);

  Panel1 = Named(new QFrame(this), "Panel1");
  Panel1->setFrameShape(QFrame::NoFrame);
  Panel1->setFixedHeight(92);
  Label1 = Named(new QLabel(tr("Computername"), Panel1), "Label1");
  eComputername = Named(new QLineEdit(Panel1), "eComputername");
  Label1->setBuddy(eComputername);
  bSearch = Named(new QPushButton(tr("&Search"), Panel1), "bSearch");
  bSearch->setDefault(true);
  Label2 = Named(new QLabel(tr("Servername"), Panel1), "Label2");
  eServerName = readOnlyField(Panel1, "eServerName");
  bOk = Named(new QPushButton(tr("&Ok"), Panel1), "bOk");
  Label3 = Named(new QLabel(tr("Server Class ID"), Panel1), "Label3");
  eServerClsId = readOnlyField(Panel1, "eServerClsId");
  bCancel = Named(new QPushButton(tr("&Cancel"), Panel1), "bCancel");

  auto* rows = new QGridLayout(Panel1);
  rows->setContentsMargins(8, 6, 8, 4);
  rows->addWidget(Label1, 0, 0);
  rows->addWidget(eComputername, 0, 1);
  rows->addWidget(bSearch, 0, 2);
  rows->addWidget(Label2, 1, 0);
  rows->addWidget(eServerName, 1, 1);
  rows->addWidget(bOk, 1, 2);
  rows->addWidget(Label3, 2, 0);
  rows->addWidget(eServerClsId, 2, 1);
  rows->addWidget(bCancel, 2, 2);
  rows->setColumnStretch(1, 1);
  rows->setHorizontalSpacing(10);

  TreeView1 = Named(new QTreeWidget(this), "TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setColumnCount(1);
  TreeView1->setIndentation(19);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  KeepSelectionVisible(TreeView1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Panel1);
  layout->addWidget(TreeView1, 1);

  setTabOrder(eComputername, bSearch);
  setTabOrder(bSearch, eServerName);
  setTabOrder(eServerName, bOk);
  setTabOrder(bOk, eServerClsId);
  setTabOrder(eServerClsId, bCancel);
  setTabOrder(bCancel, TreeView1);

  connect(bSearch, &QPushButton::clicked, this,
          [this] { RunEvent(this, [this] { bSearchClick(); }); });
  connect(bOk, &QPushButton::clicked, this, [this] { RunEvent(this, [this] { bOkClick(); }); });
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this,
          [this] { RunEvent(this, [this] { TreeView1Change(); }); });

  FormCreate();
}

TqopcServerBrowseDlg::~TqopcServerBrowseDlg() { FormDestroy(); }

void TqopcServerBrowseDlg::FormCreate() {
  serverBrowser_ = std::make_unique<TqopcServerBrowser>();
  ClearTreeView();
}

void TqopcServerBrowseDlg::FormDestroy() {
  // The nodes refer to the enumeration's items: they go first.
  ClearTreeView();
  serverBrowser_.reset();
}

QString TqopcServerBrowseDlg::ComputerName() const { return eComputername->text(); }
void TqopcServerBrowseDlg::SetComputerName(const QString& value) { eComputername->setText(value); }
QString TqopcServerBrowseDlg::ServerName() const { return eServerName->text(); }
QString TqopcServerBrowseDlg::ServerClsId() const { return eServerClsId->text(); }

void TqopcServerBrowseDlg::ClearTreeView() {
  da10Node_ = nullptr;
  da20Node_ = nullptr;
  ae10Node_ = nullptr;
  TreeView1->clear();
}

void TqopcServerBrowseDlg::bSearchClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
  ClearTreeView();
  // Paint the emptied tree before the search blocks; input waits, so the
  // search cannot be started a second time from inside itself.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  serverBrowser_->SetComputerName(eComputername->text());
  serverBrowser_->Execute();
  for (int i = 0; i < serverBrowser_->GetCount(); ++i)
    ServerToTreeView(serverBrowser_->GetItems(i));
  if (serverBrowser_->GetCount() == 0) ShowMessage(tr("no OPC Server found on selected Computer"));
}

void TqopcServerBrowseDlg::ServerToTreeView(TqopcServerItem* server) {
  if (!server) return;
  struct Category {
    tqopcServerType member;
    QTreeWidgetItem** node;
    const char* caption;
  };
  const Category categories[] = {
      {svr_DA10, &da10Node_, QT_TR_NOOP("DA Servers 1.0")},
      {svr_DA20, &da20Node_, QT_TR_NOOP("DA Servers 2.0")},
      {svr_AE10, &ae10Node_, QT_TR_NOOP("AE Servers 1.0")},
  };
  for (const Category& category : categories) {
    if (!server->Categories.testFlag(category.member)) continue;
    if (!*category.node) *category.node = new QTreeWidgetItem(TreeView1, {tr(category.caption)});
    auto* node = new QTreeWidgetItem(*category.node, {server->UserType});
    node->setData(0, ServerItemRole, QVariant::fromValue(static_cast<void*>(server)));
  }
}

void TqopcServerBrowseDlg::TreeView1Change() {
  const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
  if (selected.isEmpty()) return;  // the fields keep their text until a node is chosen
  const auto* server =
      static_cast<const TqopcServerItem*>(selected.first()->data(0, ServerItemRole).value<void*>());
  if (server) {
    eServerName->setText(server->ProgID);
    eServerClsId->setText(server->ClsId);
  } else {
    eServerName->clear();
    eServerClsId->clear();
  }
}

void TqopcServerBrowseDlg::bOkClick() {
  done(eServerName->text().isEmpty() ? QDialog::Rejected : QDialog::Accepted);
}

bool qopcBrowseServer(QString& Computer, QString& ServerName, QString& ClsId) {
  TqopcServerBrowseDlg form;
  form.SetComputerName(Computer);
  const bool confirmed = form.exec() == QDialog::Accepted;
  ServerName = form.ServerName();
  ClsId = form.ServerClsId();
  Computer = form.ComputerName();
  return confirmed;
}
