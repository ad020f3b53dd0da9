// The panel: a form designed in Qt Designer with a server component
// (OPCServer1), a binding component (OPCGUI1) and the widgets it fills.
#pragma once

#include <QWidget>

#include "ui_panelwindow.h"

class PanelWindow : public QWidget {
  Q_OBJECT

 public:
  explicit PanelWindow(QWidget* parent = nullptr);

  /// The form's server component.
  TqOPCServer* Server() const { return ui.OPCServer1->Server(); }
  /// Data changes received so far.
  int Changes() const { return changes_; }

 signals:
  /// After each data change the slot below has handled.
  void changed();

 private slots:
  // Connected by name in setupUi (QMetaObject::connectSlotsByName).
  void on_OPCServer1_dataChanged(TqOPCItemList* items);
  void on_OPCServer1_error(const QString& message);

 private:
  Ui::PanelWindow ui;
  int changes_ = 0;
};
