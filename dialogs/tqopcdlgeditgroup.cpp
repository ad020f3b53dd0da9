#include "tqopcdlgeditgroup.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "application.h"
#include "dialogsupport_p.h"
#include "exceptions.h"

using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

// The user's number format, without digit grouping, so that what the dialog
// shows reads back.
QLocale userNumbers() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
  return locale;
}

// A whole number in decimal, blanks around it allowed.
qint32 StrToInt(const QString& text) {
  bool ok = false;
  const qint32 value = text.trimmed().toInt(&ok, 10);
  if (!ok) {
    throw EConvertError(
        QCoreApplication::translate("TqOPCDlgEditGroup", "'%1' is not a valid integer value")
            .arg(text));
  }
  return value;
}

// A number with the user's decimal separator, blanks around it allowed. A
// dead band is stored as a 32-bit float: infinities, NaN and values beyond
// that type are no dead band.
float StrToFloat32(const QString& text) {
  bool ok = false;
  const double value = userNumbers().toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
    throw EConvertError(
        QCoreApplication::translate("TqOPCDlgEditGroup", "'%1' is not a valid floating point value")
            .arg(text));
  }
  return float(value);
}

}  // namespace

TqOPCDlgEditGroup::TqOPCDlgEditGroup(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("qOPCDlgEditGroup"));
  setWindowTitle(tr("Edit Group"));
  setFixedSize(322, 215);

  Label3 = Named(new QLabel(tr("Groupname"), this), "Label3");
  eGroupName = Named(new QLineEdit(this), "eGroupName");
  Label4 = Named(new QLabel(tr("UpdateRate"), this), "Label4");
  eUpdateRate = Named(new QLineEdit(QStringLiteral("1000"), this), "eUpdateRate");
  Label5 = Named(new QLabel(tr("DeadBand"), this), "Label5");
  eDeadBand = Named(new QLineEdit(QStringLiteral("0"), this), "eDeadBand");
  Label6 = Named(new QLabel(tr("Active"), this), "Label6");
  cActive = Named(new QCheckBox(this), "cActive");
  Label3->setBuddy(eGroupName);
  Label4->setBuddy(eUpdateRate);
  Label5->setBuddy(eDeadBand);
  Label6->setBuddy(cActive);
  bOk = Named(new QPushButton(tr("&Ok"), this), "bOk");
  bOk->setDefault(true);
  BCancel = Named(new QPushButton(tr("&Cancel"), this), "BCancel");

  auto* rows = new QGridLayout;
  rows->addWidget(Label3, 0, 0);
  rows->addWidget(eGroupName, 0, 1);
  rows->addWidget(Label4, 1, 0);
  rows->addWidget(eUpdateRate, 1, 1);
  rows->addWidget(Label5, 2, 0);
  rows->addWidget(eDeadBand, 2, 1);
  rows->addWidget(Label6, 3, 0);
  rows->addWidget(cActive, 3, 1, Qt::AlignLeft);
  rows->setColumnStretch(1, 1);
  rows->setHorizontalSpacing(16);
  rows->setVerticalSpacing(8);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(bOk);
  buttons->addWidget(BCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->addLayout(rows);
  layout->addStretch(1);
  layout->addLayout(buttons);

  connect(bOk, &QPushButton::clicked, this, [this] { RunEvent(this, [this] { bOkClick(); }); });
  connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TqOPCDlgEditGroup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TqOPCDlgEditGroup::FormShow() {
  eUpdateRate->setText(QString::number(GroupState.UpdateRate));
  eGroupName->setText(GroupState.Name);
  eDeadBand->setText(userNumbers().toString(double(GroupState.PercentDeadband), 'f', 2));
  cActive->setChecked(GroupState.Active);
}

void TqOPCDlgEditGroup::bOkClick() {
  if (eGroupName->text().trimmed().isEmpty()) {
    Beep();
    eGroupName->setFocus();
    return;
  }
  GroupState.UpdateRate = StrToInt(eUpdateRate->text());
  GroupState.Name = eGroupName->text();
  GroupState.PercentDeadband = StrToFloat32(eDeadBand->text());
  GroupState.Active = cActive->isChecked();
  accept();
}

bool OPCEditGroupDialog(tGroupStateRec& State) {
  TqOPCDlgEditGroup form;
  form.GroupState = State;
  if (form.exec() != QDialog::Accepted) return false;
  State = form.GroupState;
  return true;
}
