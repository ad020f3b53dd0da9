#include "tqopcgui.h"

#include <QVarLengthArray>
#include <algorithm>
#include <mutex>
#include <vector>

#include "core/qopclogging.h"
#include "core/tqopcgroup.h"
#include "core/tqopcitems.h"
#include "guipropwrite.h"

namespace {

// Every live binding component, so that one going away from the middle of a
// server's handler chain can hand its place to the component above it.
// Components on other threads never share a server, but they do share this
// list.
std::mutex g_componentsMutex;
std::vector<TqOPCGUI*>& components() {
  static std::vector<TqOPCGUI*> list;
  return list;
}

}  // namespace

TqOPCGUI::TqOPCGUI(QObject* owner) : TComponent(owner), items_(std::make_unique<TqGUIItems>(this)) {
  {
    std::lock_guard lock(g_componentsMutex);
    components().push_back(this);
  }
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
  for (const Hook& h : std::vector<Hook>(hooks_)) {
    if (h.server->OnDatachange == ownHandler())
      unhook(h.server);
    else
      spliceOut(h.server, h.saved);
  }
  {
    std::lock_guard lock(g_componentsMutex);
    std::erase(components(), this);
  }
  items_.reset();
}

void TqOPCGUI::spliceOut(const TqOPCServer* server, const TOnOPCDataChangeEvent& saved) {
  const TOnOPCDataChangeEvent own = ownHandler();
  std::lock_guard lock(g_componentsMutex);
  for (TqOPCGUI* other : components()) {
    if (other == this) continue;
    for (Hook& h : other->hooks_)
      if (h.server == server && h.saved == own) h.saved = saved;
  }
}

TOnOPCDataChangeEvent TqOPCGUI::ownHandler() {
  return TOnOPCDataChangeEvent(this, &TqOPCGUI::OnDataChange);
}

bool TqOPCGUI::Hooked() const {
  TqOPCServer* server = server_.data();
  return server && server->OnDatachange == const_cast<TqOPCGUI*>(this)->ownHandler();
}

TOnOPCDataChangeEvent TqOPCGUI::SavedOnDatachange() const {
  for (const Hook& h : hooks_)
    if (h.server == serverKey_) return h.saved;
  return {};
}

TqOPCGUI::Hook* TqOPCGUI::findHook(const QObject* server) {
  for (Hook& h : hooks_)
    if (h.server == server) return &h;
  return nullptr;
}

void TqOPCGUI::setLink(TqOPCServer* value) {
  TqOPCServer* old = server_.data();
  // A server whose chain still holds our handler stays watched.
  if (old && old != value && !findHook(old)) disconnect(old, &QObject::destroyed, this, nullptr);
  server_ = value;
  serverKey_ = value;
  if (value) {
    connect(value, &QObject::destroyed, this, &TqOPCGUI::componentDestroyed, Qt::UniqueConnection);
  }
}

void TqOPCGUI::hook(TqOPCServer* server) {
  // Still in the server's chain (below a handler installed after ours): we
  // are called already, and hooking again would make the chain a loop.
  if (findHook(server)) return;
  TOnOPCDataChangeEvent own = ownHandler();
  if (server->OnDatachange == own) return;
  hooks_.push_back({server, server->OnDatachange});
  server->OnDatachange = own;
}

void TqOPCGUI::unhook(TqOPCServer* server) {
  // Only our own handler is replaced: one the application (or another
  // binding component) installed after us stays where it is, and may still
  // call ours, so what we found there is kept to be passed on.
  Hook* h = server ? findHook(server) : nullptr;
  if (!h || server->IsDestroying()) return;
  if (!(server->OnDatachange == ownHandler())) return;
  server->OnDatachange = h->saved;
  hooks_.erase(hooks_.begin() + (h - hooks_.data()));
  if (server != server_.data()) disconnect(server, &QObject::destroyed, this, nullptr);
}

void TqOPCGUI::SetOPCServer(TqOPCServer* value) {
  if (IsDesigning()) {
    setLink(value);
    return;
  }
  if (serverKey_) {
    for (TCollectionItem* binding : *items_) static_cast<TqGUIItem*>(binding)->DeleteFromGUIList();
    unhook(server_.data());
  }
  setLink(value);
  if (!value) return;
  // The same server assigned again was given its handler back just above,
  // so what is saved now is never our own.
  hook(value);
  for (int i = 0; i < items_->Count(); ++i) items_->Items(i)->Update();
}

void TqOPCGUI::SetItems(TqGUIItems* value) {
  if (value && value != items_.get()) items_->Assign(value);
}

void TqOPCGUI::OnDataChange(QObject* Sender, TqOPCItemList* ItemList) {
  const int count = ItemList ? ItemList->Count() : 0;
  for (int n = 0; n < count; ++n) {
    TqOPCItem* item = ItemList->Items(n);
    if (!item) continue;
    const QList<TqGUIItem*>& list = item->GUIList();
    if (list.isEmpty()) continue;
    // The walk works on a copy of this component's bindings of the item, so
    // bindings dropped during it are skipped and ones added wait for the next
    // delivery. Another component's bindings of the same item are its own
    // business (it serves them when the server calls it).
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
  // What the sending server had before us; a direct call with another
  // sender passes on what the linked server had.
  const Hook* h = findHook(Sender);
  if (!h) h = findHook(serverKey_);
  if (h && h->saved) {
    const TOnOPCDataChangeEvent saved = h->saved;  // the handler may hook again
    saved(Sender, ItemList);
  }
}

void TqOPCGUI::SetValueToControl(TqGUIItem* Binding, const OleVariant& Value) {
  if (!Binding) return;
  QWidget* control = Binding->Control();
  if (!control) return;
  const OleVariant* value = &Value;
  OleVariant copy;
  if (Binding->OnChangeData) {
    copy = Value;
    bool handled = true;
    QPointer<TqGUIItem> guard(Binding);
    Binding->OnChangeData(control, copy, handled);
    if (handled || !guard) return;
    control = Binding->Control();  // the handler may have destroyed it
    if (!control) return;
    value = &copy;
  }
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

void TqOPCGUI::componentDestroyed(QObject* object) {
  // A dying server's chain goes with it; it never calls us again.
  if (Hook* h = findHook(object)) hooks_.erase(hooks_.begin() + (h - hooks_.data()));
  Notification(object, opRemove);
}

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
