#include "demoform.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include "binding/qOPCGUI.h"
#include "core/qOPC.h"

namespace {

template <class W>
W* named(QWidget* parent, const char* name) {
  auto* w = new W(parent);
  w->setObjectName(QLatin1String(name));
  return w;
}

}  // namespace

TDemoForm::TDemoForm(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("fmDemo"));
  setWindowTitle(tr("veze6 binding demo"));

  // The server component and what it subscribes to.
  server_ = new TqOPCServer(this);
  server_->SetName(QStringLiteral("OPCServer1"));
  server_->SetServer(QLatin1String(kServerName));
  server_->OPCGroupDefault()->UpdateRate = 250;
  TqOPCGroup* group = server_->OPCGroups()->Add(QStringLiteral("Signals"));
  for (const char* id :
       {"Random.Real8", "Ramp.Int4", "Sine.Real8", "Triangle.Real4", "Static.String", "Random.Date",
        "Square.Boolean", "Random.Boolean", "Random.String"}) {
    group->OPCItems()->AddItem(QLatin1String(id));
  }

  // The widgets. A label that is an item's id (and the property it goes to)
  // is not for translation.
  auto* signalBox = new QGroupBox(tr("Signals"), this);
  auto* form = new QFormLayout(signalBox);
  eRandom = named<QLineEdit>(signalBox, "eRandom");
  eRamp = named<QLineEdit>(signalBox, "eRamp");
  eSine = named<QLineEdit>(signalBox, "eSine");
  lTriangle = named<QLabel>(signalBox, "lTriangle");
  lGreeting = named<QLabel>(signalBox, "lGreeting");
  lDate = named<QLabel>(signalBox, "lDate");
  pbRamp = named<QProgressBar>(signalBox, "pbRamp");
  for (QLineEdit* e : {eRandom, eRamp, eSine}) e->setReadOnly(true);
  form->addRow(QStringLiteral("Random.Real8"), eRandom);
  form->addRow(QStringLiteral("Ramp.Int4"), eRamp);
  form->addRow(QStringLiteral("Ramp.Int4 (value)"), pbRamp);
  form->addRow(QStringLiteral("Sine.Real8"), eSine);
  form->addRow(QStringLiteral("Triangle.Real4"), lTriangle);
  form->addRow(QStringLiteral("Static.String"), lGreeting);
  form->addRow(QStringLiteral("Random.Date"), lDate);

  auto* flags = new QGroupBox(tr("Booleans"), this);
  auto* flagRow = new QHBoxLayout(flags);
  cbSquare = named<QCheckBox>(flags, "cbSquare");
  cbSquare->setText(QStringLiteral("Square.Boolean"));
  cbRandom = named<QCheckBox>(flags, "cbRandom");
  cbRandom->setText(QStringLiteral("Random.Boolean"));
  flagRow->addWidget(cbSquare);
  flagRow->addWidget(cbRandom);
  flagRow->addStretch();

  auto* logs = new QGroupBox(tr("Every change"), this);
  auto* logRow = new QHBoxLayout(logs);
  mLog = named<QPlainTextEdit>(logs, "mLog");
  mLog->setReadOnly(true);
  lbTexts = named<QListWidget>(logs, "lbTexts");
  auto* logColumn = new QVBoxLayout;
  logColumn->addWidget(new QLabel(tr("Ramp.Int4, one line per change"), logs));
  logColumn->addWidget(mLog);
  auto* listColumn = new QVBoxLayout;
  listColumn->addWidget(new QLabel(tr("Random.String, one entry per change"), logs));
  listColumn->addWidget(lbTexts);
  logRow->addLayout(logColumn);
  logRow->addLayout(listColumn);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(signalBox);
  layout->addWidget(flags);
  layout->addWidget(logs);
  resize(560, 620);

  // The bindings: the form's server is picked up by the component; assigning
  // it hooks the data changes.
  gui_ = new TqOPCGUI(this);
  gui_->SetName(QStringLiteral("OPCGUI1"));
  gui_->SetOPCServer(server_);
  gui_->AddItem("Signals", "Random.Real8", eRandom, QString());
  gui_->AddItem("Signals", "Ramp.Int4", eRamp, QString());
  gui_->AddItem("Signals", "Ramp.Int4", pbRamp, QStringLiteral("value"));
  gui_->AddItem("Signals", "Sine.Real8", eSine, QString());
  gui_->AddItem("Signals", "Triangle.Real4", lTriangle, QString());
  gui_->AddItem("Signals", "Static.String", lGreeting, QString());
  gui_->AddItem("Signals", "Random.Date", lDate, QString());
  gui_->AddItem("Signals", "Square.Boolean", cbSquare, QString());
  gui_->AddItem("Signals", "Random.Boolean", cbRandom, QString());
  gui_->AddItem("Signals", "Ramp.Int4", mLog, QString());
  gui_->AddItem("Signals", "Random.String", lbTexts, QString());

  server_->SetActive(true);
  // Bindings made while disconnected link to the items already; values
  // arrive with the first data change.
}

TDemoForm::~TDemoForm() = default;

bool TDemoForm::ValuesArrived(int logLines) const {
  for (const QLineEdit* e : {eRandom, eRamp, eSine})
    if (e->text().isEmpty()) return false;
  for (const QLabel* l : {lTriangle, lGreeting, lDate})
    if (l->text().isEmpty()) return false;
  return mLog->blockCount() >= logLines && !mLog->document()->firstBlock().text().isEmpty() &&
         lbTexts->count() >= logLines;
}
