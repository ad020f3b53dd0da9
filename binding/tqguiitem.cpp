#include "tqguiitem.h"

#include "core/tqopcserver.h"
#include "findqopcitem.h"
#include "guipropwrite.h"
#include "tqguiitems.h"
#include "tqopcgui.h"

// ---- TqGUIItem ----

TqGUIItem::TqGUIItem(TqGUIItems* items) : TCollectionItem(items) {}

TqGUIItem::~TqGUIItem() { DeleteFromGUIList(); }

TqOPCGUI* TqGUIItem::GUI() const {
  auto* items = qobject_cast<TqGUIItems*>(Collection());
  return items ? items->GUI() : nullptr;
}

void TqGUIItem::SetComponent(QWidget* value) {
  control_ = value;
  controlKey_ = value;
  if (TqOPCGUI* gui = GUI(); gui && value) gui->watchControl(value);
  SetPropInfo();
  Changed(false);
}

void TqGUIItem::SetPropName(const QString& value) {
  propName_ = value;
  SetPropInfo();
}

void TqGUIItem::SetOPCGroup(const QString& value) {
  group_ = value;
  AddToOpcServer(group_, item_);
}

void TqGUIItem::SetOPCItem(const QString& value) {
  item_ = value;
  AddToOpcServer(group_, item_);
}

void TqGUIItem::SetPropInfo() {
  propInfo_ = QMetaProperty();
  setProc_ = nullptr;
  QWidget* control = control_.data();
  if (propName_.isEmpty() || !control) return;
  propInfo_ = FindGUIProperty(control, propName_);
  setProc_ = GetDefaultSetProc(control, propName_);
}

void TqGUIItem::AddToOpcServer(const QString& group, const QString& itemId) {
  TqOPCGUI* gui = GUI();
  if (!gui || gui->IsDesigning()) return;
  DeleteFromGUIList();
  if (group.trimmed().isEmpty() || itemId.trimmed().isEmpty()) return;
  TqOPCServer* server = gui->OPCServer();
  TqOPCItem* item = FindqOPCItem(server, group, itemId);
  if (!item) return;
  linkedItem_ = item;
  AddToGUIList(item);
  if (item->Value().vt() != VT_EMPTY && server->Active())
    gui->SetValueToControl(this, item->Value());
}

void TqGUIItem::AddToGUIList(TqOPCItem* item) {
  if (!item) return;
  QList<TqGUIItem*>& list = item->GUIList();
  if (!list.contains(this)) list.append(this);
}

void TqGUIItem::DeleteFromGUIList() {
  // A destroyed item has already taken its list with it; the QPointer then
  // reads null and there is nothing to leave.
  if (TqOPCItem* item = linkedItem_.data()) {
    if (item->GUIList().removeOne(this)) {
      if (TqOPCGUI* gui = GUI()) ++gui->unlinks_;
    }
  }
  linkedItem_.clear();
}

void TqGUIItem::Update() { AddToOpcServer(group_, item_); }

QString TqGUIItem::GetDisplayName() const {
  if (QWidget* control = control_.data()) return control->objectName();
  return TCollectionItem::GetDisplayName();
}

QString TqGUIItem::GetNamePath() const {
  QWidget* control = control_.data();
  TqOPCGUI* gui = GUI();
  if (control && gui) return QStringLiteral("%1.%2").arg(gui->Name(), control->objectName());
  return TCollectionItem::GetNamePath();
}

void TqGUIItem::Assign(const TPersistent* source) {
  auto* other = qobject_cast<const TqGUIItem*>(source);
  if (!other) {
    TCollectionItem::Assign(source);
    return;
  }
  SetComponent(other->Control());
  SetPropName(other->CtrlPropName());
  SetOPCGroup(other->OPCGroup());
  SetOPCItem(other->OPCItem());
  OnChangeData = other->OnChangeData;
}

void TqGUIItem::forgetControl() {
  control_.clear();
  controlKey_ = nullptr;
  propInfo_ = QMetaProperty();
  setProc_ = nullptr;
}

// ---- TqGUIItems ----

TqGUIItems::TqGUIItems(TqOPCGUI* owner) : TCollection(owner), gui_(owner) {
  setObjectName(QStringLiteral("Items"));
}

TqGUIItems::~TqGUIItems() { ClearInDestructor(); }

TqGUIItem* TqGUIItems::Add() { return static_cast<TqGUIItem*>(TCollection::Add()); }

TqGUIItem* TqGUIItems::Items(int index) const {
  return static_cast<TqGUIItem*>(TCollection::Items(index));
}

void TqGUIItems::SetItem(int index, const TqGUIItem* value) { Items(index)->Assign(value); }

std::unique_ptr<TCollectionItem> TqGUIItems::CreateItem() {
  return std::make_unique<TqGUIItem>(this);
}
