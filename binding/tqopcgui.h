// TqOPCGUI: copies OPC item values into properties of ordinary widgets,
// without application code.
//
// The component is linked to one server component. Outside the designer it
// receives the server's dataChanged signal (the OnDatachange field stays the
// application's); for every changed item each of its bindings writes the
// item's value into its control, through the setter registered for the
// control's class or the generic property write.
// Bindings are linked only to groups and items that exist on the server
// component; the component never creates any.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "core/tcomponent.h"
#include "core/tqopcitemlist.h"
#include "core/tqopcserver.h"
#include "opc/variant.h"
#include "tqguiitem.h"
#include "tqguiitems.h"

class TqOPCGUI : public TComponent {
  Q_OBJECT
  Q_PROPERTY(TqOPCServer* OPCServer READ OPCServer WRITE SetOPCServer)
  Q_PROPERTY(TqGUIItems* Items READ Items WRITE SetItems)

 public:
  enum TOperation { opInsert, opRemove };

  /// owner (may be null) becomes the QObject parent. When the owner is a
  /// form (a window widget), the last TqOPCServer among its children is
  /// stored as OPCServer without hooking it: a stored form assigns
  /// OPCServer when it is read, and that hooks.
  explicit TqOPCGUI(QObject* owner = nullptr);
  /// Destroys the bindings.
  ~TqOPCGUI() override;

  /// The linked server, or null (also once it was destroyed). Not owned.
  TqOPCServer* OPCServer() const { return server_.data(); }
  /// Lets go of the linked server (bindings unlinked, its data changes no
  /// longer received), then, outside the designer, hooks value (receives its
  /// dataChanged) and links every binding, which may write current values
  /// at once. In the designer only the link is stored. Assigning the server
  /// that is already linked links the bindings again.
  void SetOPCServer(TqOPCServer* value);
  /// The bindings; owned by the component, never null.
  TqGUIItems* Items() const { return items_.get(); }
  /// Copies the bindings of value (collection assignment); the component
  /// keeps its own collection.
  void SetItems(TqGUIItems* value);
  /// Whether the component receives the linked server's data changes.
  bool Hooked() const;

  /// One delivery: for each listed item, in order, every binding of this
  /// component in its GUIList gets the item's value (SetValueToControl). A
  /// binding destroyed during the delivery is not visited again; bindings
  /// added during it wait for the next one. Sender is not used.
  void OnDataChange(QObject* Sender, TqOPCItemList* ItemList);
  /// Writes value into the binding's control: nothing without a control;
  /// OnChangeData first (see TGUIOnSetValue); then the registered setter or,
  /// with a property name, the generic property write. A binding whose write
  /// raises is destroyed and the exception swallowed; exceptions of
  /// OnChangeData pass through.
  void SetValueToControl(TqGUIItem* Binding, const OleVariant& Value);

  /// A new binding of control to the item itemId of group: an empty
  /// propName becomes the control's default property name (empty when the
  /// registry knows none, so nothing is ever written). Links at once and
  /// writes the item's value when it has one and the server is connected.
  /// Owned by Items.
  virtual TqGUIItem* AddItem(const QString& group, const QString& itemId, QWidget* control,
                             QString propName);
  /// AddItem with item's group name and ItemID (blank names for null).
  virtual TqGUIItem* AddItem(TqOPCItem* item, QWidget* control, const QString& propName);
  /// Destroys the first binding of control whose CtrlPropName equals
  /// propName ignoring case; false when there is none.
  virtual bool DeleteItem(QWidget* control, const QString& propName);
  /// The linked item of the first binding of control with propName (ignoring
  /// case; an empty propName takes the control's first binding), or null.
  TqOPCItem* GetqOPCItem(QWidget* control, const QString& propName) const;
  /// The first binding of control, its names copied out; null when the
  /// control has none (propName, group and itemId cleared, controlName kept).
  TqGUIItem* Find(QWidget* control, QString& controlName, QString& propName, QString& group,
                  QString& itemId) const;

  /// A component is going away (opRemove): the linked server is let go;
  /// bindings of a removed control are deleted while a server is linked and
  /// forget the control otherwise. Destroyed servers and controls arrive
  /// here by themselves; the dying object is only compared, never called.
  virtual void Notification(QObject* AComponent, TOperation Operation);

 private:
  friend class TqGUIItem;
  /// The link itself, watching the server's destruction.
  void setLink(TqOPCServer* value);
  /// Every binding of control is told that it is gone.
  void watchControl(QWidget* control);
  void componentDestroyed(QObject* object);
  void serverDataChanged(TqOPCItemList* items);

  QPointer<TqOPCServer> server_;
  const QObject* serverKey_ = nullptr;  // compared only: identifies a dying server
  QMetaObject::Connection hook_;        // to server_'s dataChanged while hooked
  std::unique_ptr<TqGUIItems> items_;
  // Counts bindings leaving a GUIList, so a delivery notices cheaply that its
  // walk must check what is still there.
  quint64 unlinks_ = 0;
};
