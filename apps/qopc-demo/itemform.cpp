#include "itemform.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "binding/qOPCGUI.h"
#include "core/exceptions.h"
#include "core/qOPC.h"
#include "demoform.h"

TItemForm::TItemForm(const TDemoOptions& options, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("fmItems"));
  const QString serverName =
      options.server.isEmpty() ? QLatin1String(TDemoForm::kServerName) : options.server;
  setWindowTitle(tr("veze6 demo: %1").arg(serverName));

  server_ = new TqOPCServer(this);
  server_->SetName(QStringLiteral("OPCServer1"));
  server_->SetServer(serverName);
  server_->OPCGroupDefault()->UpdateRate = 250;
  server_->SetActive(true);  // browsing needs the connection; raises when there is none

  QStringList ids = options.items;
  if (ids.isEmpty()) {
    TqOPCBrowser& browser = *server_->Browser();
    if (!options.branch.isEmpty() && !browser.Moveto(options.branch))
      throw EOPCException(tr("the server has no branch '%1'").arg(options.branch));
    browser.ShowLeafs(true);
    ids = browser.Tags().mid(0, options.count);
    if (ids.isEmpty()) throw EOPCException(tr("browsing found no item to show"));
  }

  // One call for every item rather than one each.
  TqOPCGroup* group = server_->OPCGroups()->Add(QStringLiteral("Items"));
  server_->SetBatchMode(true);
  for (const QString& id : ids) group->OPCItems()->AddItem(id);
  server_->SetBatchMode(false);
  group->OPCItems()->OPCAddAllItems();

  auto* list = new QWidget;
  auto* rows = new QFormLayout(list);
  gui_ = new TqOPCGUI(this);
  gui_->SetName(QStringLiteral("OPCGUI1"));
  gui_->SetOPCServer(server_);
  for (int i = 0; i < group->OPCItems()->Count(); ++i) {
    TqOPCItem* item = group->OPCItems()->Items(i);
    auto* field = new QLineEdit(list);
    field->setObjectName(QStringLiteral("eItem%1").arg(i));
    field->setReadOnly(true);
    field->setMinimumWidth(220);
    rows->addRow(item->ItemID(), field);
    fields_ << field;
    if (item->LastError() != 0) {
      field->setPlaceholderText(item->GetLastErrorStr());  // the server refused the item
      continue;
    }
    waiting_ << field;
    gui_->AddItem(QStringLiteral("Items"), item->ItemID(), field, QString());
  }

  auto* scroll = new QScrollArea(this);
  scroll->setWidget(list);
  scroll->setWidgetResizable(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Server: %1").arg(serverName), this));
  layout->addWidget(scroll);
  resize(640, std::min(90 + 30 * int(fields_.size()), 720));
}

TItemForm::~TItemForm() = default;

bool TItemForm::ValuesArrived() const {
  // A binding whose value the field cannot take (an array) is gone: nothing
  // will arrive there.
  for (QLineEdit* e : waiting_)
    if (e->text().isEmpty() && gui_->GetqOPCItem(e, QString())) return false;
  return true;
}
