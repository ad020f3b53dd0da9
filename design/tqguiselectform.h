// TqGUISelectForm: the "OPC to GUI" window, the editor of a binding
// component's bindings. It lists every control of the form that owns the
// binding component, one row per control, with the property, group and item
// the control is bound to. A double click on a row chooses them in the item
// selection dialog, a right click clears the row's group and item. OK and
// the close box apply every row to the binding component; Escape and Cancel
// close the window leaving the bindings as they were.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <vector>

#include "binding/tqguiitem.h"
#include "binding/tqopcgui.h"
#include "core/tqopcserver.h"

class QTreeWidget;
class QTreeWidgetItem;

class TqGUISelectForm : public QDialog {
  Q_OBJECT

 public:
  /// The columns of ListView.
  enum Column { ControlColumn, PropNameColumn, GroupColumn, ItemColumn };

  /// Builds the window with its list (named ListView) and its OK and Cancel
  /// buttons (ButtonBox), and runs FormCreate.
  explicit TqGUISelectForm(QWidget* parent = nullptr);
  ~TqGUISelectForm() override;

  /// The binding component being edited; not owned. Set it before showing.
  TqOPCGUI* GUIComponent() const { return guiComponent_.data(); }
  void SetGUIComponent(TqOPCGUI* value) { guiComponent_ = value; }
  /// The binding component's server component as it was when the window was
  /// shown; handed to the item selection dialog. Not owned; null when none
  /// (or once it was destroyed).
  TqOPCServer* Server() const { return server_.data(); }
  /// The form that owns the binding component, whose controls are listed.
  /// Not owned.
  QWidget* OwnerForm() const { return ownerForm_.data(); }

  /// The controls of form, in the order the window lists them: its
  /// descendant widgets, each parent before its children and siblings in
  /// creation order. Other windows (with what they hold) are not the form's,
  /// the hosts of non-visual components (TqComponentHost) are no controls,
  /// and widgets without a name or with one of Qt's own names ("qt_...":
  /// the inner parts of composite widgets) are skipped, while their
  /// children are still looked at.
  static QList<QWidget*> FormControls(const QWidget* form);

  // ---- the form's event handlers ----
  /// Every column of ListView switched to automatic width.
  void FormCreate();
  /// Lists the owner form's controls, each with its first binding's
  /// property, group and item (the remembered or table default property for
  /// an unbound control) and gives the first row the focus mark.
  void FormShow();
  /// The right button clears the group and item of the selected row; the
  /// property name stays. Nothing reaches the binding component yet.
  void ListViewMouseDown(Qt::MouseButton button);
  /// Lets the user choose property, group and item for the selected row in
  /// the item selection dialog; with "default" ticked the property name is
  /// remembered for the control's class (an empty one forgets it).
  void ListViewDblClick();
  /// Applies every row to the binding component: a bound row with group and
  /// item updates its binding, one without either deletes it; an unbound
  /// row with group and item adds a binding.
  void FormClose();

  /// Closes the window; FormClose runs first, once, when the window was
  /// accepted (OK) or closed with its close box, not when it was rejected
  /// (Escape, Cancel).
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What a row refers to besides its texts. The row's control is kept as
  // the control itself: names on a Qt form need not be unique, so the name
  // alone could lead to another widget.
  struct Row {
    QPointer<QWidget> control;
    QPointer<TqGUIItem> binding;
  };
  QTreeWidgetItem* selectedRow() const;
  /// The row's control while it exists and is still on the owner form.
  QWidget* controlOf(int row) const;

  QTreeWidget* ListView;
  QPointer<TqOPCGUI> guiComponent_;
  QPointer<TqOPCServer> server_;
  QPointer<QWidget> ownerForm_;
  std::vector<Row> rows_;  // parallel to ListView's rows
  bool closing_ = false;
  bool closeBox_ = false;  // the close box applies, though it rejects
};

/// Opens the "OPC to GUI" window for GUI and waits until it is closed; the
/// bindings are changed when it closes. Nothing for a null GUI. Raises
/// Exception "first assign property opcserver" when GUI has no server
/// component and "only possible on Forms" when GUI is not owned by a form (a
/// window widget, or in Qt Designer the designed form); no window is shown
/// then.
void qGUISelectControls(TqOPCGUI* GUI);
