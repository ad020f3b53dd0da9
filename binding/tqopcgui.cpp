#include "tqopcgui.h"

#include <QMetaMethod>
#include <QVarLengthArray>

#include "core/qopcconversions.h"
#include "core/qopclogging.h"
#include "core/tqopcgroup.h"
#include "core/tqopcitems.h"
#include "guipropwrite.h"

TqOPCGUI::TqOPCGUI(QObject* owner) : TComponent(owner), items_(std::make_unique<TqGUIItems>(this)) {
  auto* form = qobject_cast<QWidget*>(owner);
  if (!form || !form->isWindow()) return;
  TqOPCServer* last = nullptr;
  for (QObject* child : form->children()) {
    if (auto* server = qobject_cast<TqOPCServer*>(child)) last = server;
  }
  if (last) setLink(last);
}

TqOPCGUI::~TqOPCGUI() {
  Destroying();
  QObject::disconnect(hook_);
  items_.reset();
}

bool TqOPCGUI::Hooked() const { return server_ && bool(hook_); }

void TqOPCGUI::setLink(TqOPCServer* value) {
  TqOPCServer* old = server_.data();
  if (old && old != value) disconnect(old, &QObject::destroyed, this, nullptr);
  server_ = value;
  serverKey_ = value;
  if (value) {
    connect(value, &QObject::destroyed, this, &TqOPCGUI::componentDestroyed, Qt::UniqueConnection);
  }
}

void TqOPCGUI::SetOPCServer(TqOPCServer* value) {
  if (IsDesigning()) {
    setLink(value);
    return;
  }
  if (serverKey_) {
    for (TCollectionItem* binding : *items_) static_cast<TqGUIItem*>(binding)->DeleteFromGUIList();
    QObject::disconnect(hook_);
    hook_ = {};
  }
  setLink(value);
  if (!value) return;
  // The signal, not the handler field: the application keeps OnDatachange
  // and may assign it at any time without cutting the bindings off. Direct:
  // the list is valid only during the emission.
  hook_ = connect(value, &TqOPCServer::dataChanged, this, &TqOPCGUI::serverDataChanged,
                  Qt::DirectConnection);
  for (int i = 0; i < items_->Count(); ++i) items_->Items(i)->Update();
}

void TqOPCGUI::serverDataChanged(TqOPCItemList* items) { OnDataChange(server_.data(), items); }

void TqOPCGUI::SetItems(TqGUIItems* value) {
  if (value && value != items_.get()) items_->Assign(value);
}

void TqOPCGUI::OnDataChange(QObject*, TqOPCItemList* ItemList) {
  const int count = ItemList ? ItemList->Count() : 0;
  for (int n = 0; n < count; ++n) {
    TqOPCItem* item = ItemList->Items(n);
    if (!item) continue;
    const QList<TqGUIItem*>& list = item->GUIList();
    if (list.isEmpty()) continue;
    // The walk works on a copy of this component's bindings of the item, so
    // bindings dropped during it are skipped and ones added wait for the next
    // delivery. Another component's bindings of the same item are its own
    // business (it receives the same signal).
    QVarLengthArray<TqGUIItem*, 16> bindings;
    for (TqGUIItem* binding : list) {
      if (binding->Collection() == items_.get()) bindings.append(binding);
    }
    const quint64 unlinks = unlinks_;
    const quint64 departures = TqOPCItems::DepartureCount();
    for (TqGUIItem* binding : bindings) {
      if (unlinks != unlinks_ || departures != TqOPCItems::DepartureCount()) {
        if (ItemList->Items(n) != item) break;  // the item itself is gone
        if (!item->GUIList().contains(binding)) continue;
      }
      SetValueToControl(binding, item->Value());
    }
  }
}

void TqOPCGUI::SetValueToControl(TqGUIItem* Binding, const OleVariant& Value) {
  if (!Binding) return;
  QWidget* control = Binding->Control();
  if (!control) return;
  const OleVariant* value = &Value;
  OleVariant copy;
  bool handled = false;
  if (Binding->OnChangeData) {
    copy = Value;
    handled = true;
    QPointer<TqGUIItem> guard(Binding);
    Binding->OnChangeData(control, copy, handled);
    if (!guard) return;
    control = Binding->Control();  // the handler may have destroyed it
    if (!control) return;
    value = &copy;
  }
  // Converted only for a receiver: most bindings have none.
  static const QMetaMethod changing = QMetaMethod::fromSignal(&TqGUIItem::valueChanging);
  if (Binding->isSignalConnected(changing)) {
    QPointer<TqGUIItem> guard(Binding);
    emit Binding->valueChanging(control, VariantToQVariant(*value), handled);
    if (!guard) return;
    control = Binding->Control();
    if (!control) return;
  }
  if (handled) return;
  try {
    if (Binding->setProc_) {
      Binding->setProc_(control, *value);
    } else if (!Binding->propName_.isEmpty()) {
      SetGUIPropValue(control, Binding->propInfo_, *value);
    }
  } catch (...) {
    // A control that cannot take the item's values stops being served.
    qCWarning(lcBinding) << "control" << control->objectName() << "cannot take the values of"
                         << Binding->OPCItem() << "; its binding is removed";
    Binding->Free();
  }
}

TqGUIItem* TqOPCGUI::AddItem(const QString& group, const QString& itemId, QWidget* control,
                             QString propName) {
  if (propName.isEmpty() && control) GetDefaultPropName(control, propName);
  TqGUIItem* binding = items_->Add();
  binding->SetPropName(propName);
  binding->SetOPCItem(itemId);
  binding->SetOPCGroup(group);
  binding->SetComponent(control);
  // Only now can a value be written: the control was set last.
  binding->AddToOpcServer(group, itemId);
  return binding;
}

TqGUIItem* TqOPCGUI::AddItem(TqOPCItem* item, QWidget* control, const QString& propName) {
  if (!item) return AddItem(QString(), QString(), control, propName);
  const QString group = item->Group() ? item->Group()->Name() : QString();
  return AddItem(group, item->ItemID(), control, propName);
}

bool TqOPCGUI::DeleteItem(QWidget* control, const QString& propName) {
  for (int i = 0; i < items_->Count(); ++i) {
    TqGUIItem* binding = items_->Items(i);
    if (binding->Control() == control &&
        binding->CtrlPropName().compare(propName, Qt::CaseInsensitive) == 0) {
      binding->Free();
      return true;
    }
  }
  return false;
}

TqOPCItem* TqOPCGUI::GetqOPCItem(QWidget* control, const QString& propName) const {
  for (int i = 0; i < items_->Count(); ++i) {
    TqGUIItem* binding = items_->Items(i);
    if (binding->Control() != control) continue;
    if (propName.isEmpty() || binding->CtrlPropName().compare(propName, Qt::CaseInsensitive) == 0)
      return binding->LinkedItem();
  }
  return nullptr;
}

TqGUIItem* TqOPCGUI::Find(QWidget* control, QString& controlName, QString& propName, QString& group,
                          QString& itemId) const {
  propName.clear();
  group.clear();
  itemId.clear();
  for (int i = 0; i < items_->Count(); ++i) {
    TqGUIItem* binding = items_->Items(i);
    if (binding->Control() != control) continue;
    controlName = control ? control->objectName() : QString();
    propName = binding->CtrlPropName();
    group = binding->OPCGroup();
    itemId = binding->OPCItem();
    return binding;
  }
  return nullptr;
}

void TqOPCGUI::watchControl(QWidget* control) {
  connect(control, &QObject::destroyed, this, &TqOPCGUI::componentDestroyed, Qt::UniqueConnection);
}

void TqOPCGUI::componentDestroyed(QObject* object) { Notification(object, opRemove); }

void TqOPCGUI::Notification(QObject* AComponent, TOperation Operation) {
  if (Operation != opRemove || !AComponent) return;
  if (serverKey_ && AComponent == serverKey_) {
    TqOPCServer* server = server_.data();
    if (server && !server->IsDestroying()) {
      SetOPCServer(nullptr);
    } else {
      // A dying server is never called: its items (and their lists) are
      // gone, and so is the handler field.
      for (int i = 0; i < items_->Count(); ++i) items_->Items(i)->DeleteFromGUIList();
      server_.clear();
      serverKey_ = nullptr;
    }
  }
  if (AComponent == this) return;
  const bool linked = serverKey_ != nullptr;
  for (int i = items_->Count() - 1; i >= 0; --i) {
    if (i >= items_->Count()) continue;
    TqGUIItem* binding = items_->Items(i);
    if (binding->controlKey_ != AComponent) continue;
    // Without a server the binding keeps its names but never sees the
    // control again.
    if (linked) {
      binding->Free();
    } else {
      binding->forgetControl();
    }
  }
}
