#include "tqguiselectform.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPalette>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "binding/guidefaultpropname.h"
#include "binding/tqguiitem.h"
#include "binding/tqopcgui.h"
#include "core/exceptions.h"
#include "core/tqopcserver.h"
#include "dialogs/dialogsupport_p.h"
#include "dialogs/tqguiitemdlg.h"
#include "tqcomponenthost.h"

using veze6::dialogs::KeepSelectionVisible;
using veze6::dialogs::Named;
using veze6::dialogs::RunEvent;

namespace {

void collectControls(const QObject* parent, QList<QWidget*>& controls) {
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    // A dialog or popup parented to the form is a window of its own.
    if (!widget || widget->isWindow()) continue;
    // A component's host is no control of the form, and a form embedded in
    // it (a designed panel with components of its own) keeps its controls.
    if (qobject_cast<TqComponentHost*>(widget) || TqComponentHost::IsHostForm(widget)) continue;
    const QString name = widget->objectName();
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) controls << widget;
    collectControls(widget, controls);  // pages of a tab widget sit in Qt's own stack
  }
}

}  // namespace

TqGUISelectForm::TqGUISelectForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("qGUISelectForm"));
  setWindowTitle(tr("OPC to GUI"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
  resize(573, 297);

  ListView = Named(new QTreeWidget(this), "ListView");
  ListView->setFrameShape(QFrame::NoFrame);
  ListView->setColumnCount(4);
  ListView->setHeaderLabels({tr("Control"), tr("Propname"), tr("OPC Group"), tr("OPC Item")});
  ListView->setRootIsDecorated(false);  // a plain list in rows and columns
  ListView->setItemsExpandable(false);
  ListView->setUniformRowHeights(true);
  ListView->setAllColumnsShowFocus(true);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setToolTip(tr("Make doubleclick to assign") + QLatin1Char('\n') +
                       tr("Make right mouseclick to reset"));
  KeepSelectionVisible(ListView);
  QHeaderView* header = ListView->header();
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  const int widths[] = {90, 80, 90, 100};
  for (int column = 0; column < 4; ++column) header->resizeSection(column, widths[column]);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ListView);
  auto* buttons = Named(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this),
                        "ButtonBox");
  buttons->setContentsMargins(8, 6, 8, 8);  // the list runs to the edges, the buttons do not
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  ListView->viewport()->installEventFilter(this);
  connect(ListView, &QTreeWidget::doubleClicked, this,
          [this] { RunEvent(this, [this] { ListViewDblClick(); }); });

  FormCreate();
}

TqGUISelectForm::~TqGUISelectForm() = default;

void TqGUISelectForm::FormCreate() {
  // Automatic width: the columns share the list's width.
  for (int column = 0; column < ListView->columnCount(); ++column)
    ListView->header()->setSectionResizeMode(column, QHeaderView::Stretch);
}

QList<QWidget*> TqGUISelectForm::FormControls(const QWidget* form) {
  QList<QWidget*> controls;
  if (form) collectControls(form, controls);
  return controls;
}

void TqGUISelectForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  closing_ = false;
  closeBox_ = false;
  RunEvent(this, [this] { FormShow(); });
}

void TqGUISelectForm::FormShow() {
  TqOPCGUI* gui = guiComponent_.data();
  server_ = gui ? gui->OPCServer() : nullptr;
  ownerForm_ = gui ? qobject_cast<QWidget*>(gui->parent()) : nullptr;

  ListView->setUpdatesEnabled(false);
  const auto resume = qScopeGuard([this] { ListView->setUpdatesEnabled(true); });
  ListView->clear();
  rows_.clear();
  if (gui && ownerForm_) {
    for (QWidget* control : FormControls(ownerForm_)) {
      auto* row = new QTreeWidgetItem(ListView);
      rows_.push_back({control, nullptr});
      QString controlName;
      QString propName;
      QString group;
      QString item;
      rows_.back().binding = gui->Find(control, controlName, propName, group, item);
      if (propName.isEmpty()) ReadDefaultPropName(control, propName);
      row->setText(ControlColumn, control->objectName());
      row->setText(PropNameColumn, propName);
      row->setText(GroupColumn, group);
      row->setText(ItemColumn, item);
    }
  }
  if (ListView->topLevelItemCount() > 0) {
    // The focus mark only: no row is selected yet.
    ListView->selectionModel()->setCurrentIndex(ListView->model()->index(0, 0),
                                                QItemSelectionModel::NoUpdate);
  }
}

QTreeWidgetItem* TqGUISelectForm::selectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QWidget* TqGUISelectForm::controlOf(int row) const {
  if (row < 0 || std::size_t(row) >= rows_.size()) return nullptr;
  QWidget* control = rows_[std::size_t(row)].control.data();
  if (!control || !ownerForm_ || !ownerForm_->isAncestorOf(control)) return nullptr;
  return control;
}

bool TqGUISelectForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* press = static_cast<QMouseEvent*>(event);
    // A right click selects the row under the pointer first, as a left one
    // does, so that it resets the row the user pointed at.
    if (press->button() == Qt::RightButton) {
      if (QTreeWidgetItem* row = ListView->itemAt(press->position().toPoint()))
        ListView->setCurrentItem(row);
    }
    const Qt::MouseButton button = press->button();
    RunEvent(this, [this, button] { ListViewMouseDown(button); });
  }
  return QDialog::eventFilter(watched, event);
}

void TqGUISelectForm::ListViewMouseDown(Qt::MouseButton button) {
  if (button != Qt::RightButton) return;
  QTreeWidgetItem* row = selectedRow();
  if (!row) return;
  row->setText(GroupColumn, QString());
  row->setText(ItemColumn, QString());
}

void TqGUISelectForm::ListViewDblClick() {
  QTreeWidgetItem* row = selectedRow();
  if (!row) return;
  QString propName = row->text(PropNameColumn);
  QString group = row->text(GroupColumn);
  QString item = row->text(ItemColumn);
  bool isDefault = false;
  if (!qGUISelectOPCItem(server_.data(), group, item, propName, isDefault)) return;
  if (isDefault) WriteDefaultPropName(controlOf(ListView->indexOfTopLevelItem(row)), propName);
  row->setText(PropNameColumn, propName);
  row->setText(GroupColumn, group);
  row->setText(ItemColumn, item);
}

void TqGUISelectForm::FormClose() {
  TqOPCGUI* gui = guiComponent_.data();
  if (!gui) return;
  for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = ListView->topLevelItem(i);
    const QString propName = row->text(PropNameColumn);
    const QString group = row->text(GroupColumn);
    const QString item = row->text(ItemColumn);
    QWidget* control = controlOf(i);
    // A binding destroyed while the window was open (its control went away
    // while a server was linked) is never touched again.
    TqGUIItem* binding = rows_[std::size_t(i)].binding.data();
    // A binding is kept, and made, only when it names both a group and an
    // item: one without either could never link, and a row that made it
    // would delete it again the next time the window closes unchanged.
    const bool complete = !group.isEmpty() && !item.isEmpty();
    if (binding) {
      if (!complete) {
        binding->Free();
        continue;
      }
      binding->SetPropName(propName);
      binding->SetOPCGroup(group);
      binding->SetOPCItem(item);
      binding->SetComponent(control);
    } else if (control && complete) {
      gui->AddItem(group, item, control, propName);
    }
  }
}

void TqGUISelectForm::closeEvent(QCloseEvent* event) {
  closeBox_ = true;
  QDialog::closeEvent(event);
  closeBox_ = false;
}

void TqGUISelectForm::done(int result) {
  if (!closing_) {
    closing_ = true;
    if (result == Accepted || closeBox_) RunEvent(this, [this] { FormClose(); });
  }
  QDialog::done(result);
}

void qGUISelectControls(TqOPCGUI* GUI) {
  if (!GUI) return;
  if (!GUI->OPCServer()) throw Exception(TqGUISelectForm::tr("first assign property opcserver"));
  const auto* owner = qobject_cast<const QWidget*>(GUI->parent());
  // In the designer the form is the designed form's main container; a
  // designed panel is a form wherever it is used.
  if (!owner || !(owner->isWindow() || TqComponentHost::IsHostForm(owner)))
    throw Exception(TqGUISelectForm::tr("only possible on Forms"));
  TqGUISelectForm form;
  form.SetGUIComponent(GUI);
  form.exec();
}
