// TqGUIItem: one binding of a TqOPCGUI - a control, the property of it that
// shows an item's value, and the group and item the value comes from.
#pragma once

#include <QMetaProperty>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include "core/tcollectionitem.h"
#include "core/tevent.h"
#include "core/tqopcitem.h"
#include "opc/variant.h"
#include "tguiregcontrol.h"

class TqGUIItems;
class TqOPCGUI;

/// A binding's OnChangeData: called with the control and a copy of the value
/// before anything is written. Handled is true on entry; a handler that
/// leaves it true writes nothing, one that sets it false has the (possibly
/// changed) copy written. The item's own value never changes.
using TGUIOnSetValue = TEvent<QWidget*, OleVariant&, bool&>;

class TqGUIItem : public TCollectionItem {
  Q_OBJECT
  Q_PROPERTY(QWidget* Control READ Control WRITE SetComponent)
  Q_PROPERTY(QString CtrlPropName READ CtrlPropName WRITE SetPropName)
  Q_PROPERTY(QString OPCGroup READ OPCGroup WRITE SetOPCGroup)
  Q_PROPERTY(QString OPCItem READ OPCItem WRITE SetOPCItem)

 public:
  /// Joins items, unlinked and empty. Use TqGUIItems::Add or TqOPCGUI::AddItem.
  explicit TqGUIItem(TqGUIItems* items);
  /// Leaves the GUIList of the linked item (DeleteFromGUIList).
  ~TqGUIItem() override;

  /// The bound control; null when none is set or it was destroyed while no
  /// server was linked. Not owned.
  QWidget* Control() const { return control_.data(); }
  /// Stores the control, then looks the property up again (SetPropInfo).
  void SetComponent(QWidget* value);
  QString CtrlPropName() const { return propName_; }
  /// Stores the name, then looks the property up again (SetPropInfo).
  void SetPropName(const QString& value);
  QString OPCGroup() const { return group_; }
  /// Stores the name, then links again (AddToOpcServer).
  void SetOPCGroup(const QString& value);
  QString OPCItem() const { return item_; }
  /// Stores the id, then links again (AddToOpcServer).
  void SetOPCItem(const QString& value);

  /// Called before each write into the control; see TGUIOnSetValue.
  TGUIOnSetValue OnChangeData;

  /// The item the binding is linked to, or null (also once that item was
  /// destroyed). Not owned.
  TqOPCItem* LinkedItem() const { return linkedItem_.data(); }
  /// The control's property named CtrlPropName (any kind), invalid when the
  /// control has none.
  const QMetaProperty& PropInfo() const { return propInfo_; }
  /// The registered setter for the control's class and CtrlPropName, or null.
  TGUISetProc SetProc() const { return setProc_; }
  /// The binding component that owns the binding, or null.
  TqOPCGUI* GUI() const;

  /// PropInfo and SetProc looked up for Control and CtrlPropName (both
  /// cleared when either is missing).
  void SetPropInfo();
  /// Links the binding to the item named by group and itemId on the binding
  /// component's server: unlinks first; stays unlinked for blank names or no
  /// such item (names compare exactly). A linked item that already holds a
  /// value while the server is connected is written into the control at
  /// once. Nothing happens in the designer.
  void AddToOpcServer(const QString& group, const QString& itemId);
  /// Appends the binding to item's GUIList unless it is in it already.
  void AddToGUIList(TqOPCItem* item);
  /// Leaves the linked item's GUIList; LinkedItem becomes null.
  void DeleteFromGUIList();
  /// AddToOpcServer(OPCGroup, OPCItem).
  void Update();

  /// The control's name, else the class name.
  QString GetDisplayName() const override;
  /// "<binding component>.<control>" when a control is set.
  QString GetNamePath() const override;
  /// Copies the published properties and OnChangeData of another binding.
  void Assign(const TPersistent* source) override;

 signals:
  /// After OnChangeData (also without one), before the value is written:
  /// the value as it will be written (OnChangeData may have changed it) and
  /// whether the write is skipped (handled: left true by OnChangeData).
  /// Only the field can change the value or skip the write.
  void valueChanging(QWidget* control, const QVariant& value, bool handled);

 private:
  friend class TqOPCGUI;
  /// The control is gone: forget it (never dereferenced again).
  void forgetControl();

  QPointer<QWidget> control_;
  // The control's address, kept for comparing only: it identifies the
  // binding's control while that is being destroyed, after the QPointer may
  // already read null.
  const QObject* controlKey_ = nullptr;
  QString propName_;
  QString group_;
  QString item_;
  QPointer<TqOPCItem> linkedItem_;
  QMetaProperty propInfo_;
  TGUISetProc setProc_ = nullptr;
};
