#include "panelwindow.h"

#include "core/qopcconversions.h"
#include "core/tqopcitem.h"
#include "core/tqopcitemlist.h"

PanelWindow::PanelWindow(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  ui.lStatus->setText(Server()->Active() ? tr("Connected to %1").arg(Server()->ServerName())
                                         : tr("Not connected"));
}

void PanelWindow::on_OPCServer1_dataChanged(TqOPCItemList* items) {
  // The bound widgets are written by the binding component; this slot keeps
  // a log of what arrived. The list is valid only during the call.
  ++changes_;
  for (int i = 0; i < items->Count(); ++i) {
    const TqOPCItem* item = items->Items(i);
    ui.mLog->appendPlainText(
        QStringLiteral("%1 = %2").arg(item->ItemID(), VarToAStr(item->Value())));
  }
  emit changed();
}

void PanelWindow::on_OPCServer1_error(const QString& message) {
  ui.lStatus->setText(tr("Error: %1").arg(message));
}
