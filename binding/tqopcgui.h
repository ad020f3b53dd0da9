// TqOPCGUI: copies OPC item values into properties of ordinary widgets,
// without application code.
//
// The component is linked to one server component. Outside the designer it
// installs its own handler as the server's OnDatachange and calls the
// handler that was there before after each delivery; for every changed item
// each of its bindings writes the item's value into its control, through the
// setter registered for the control's class or the generic property write.
// Bindings are linked only to groups and items that exist on the server
// component; the component never creates any.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

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
  /// Gives the server its former OnDatachange back when this component's
  /// handler is installed there, then destroys the bindings.
  ~TqOPCGUI() override;

  /// The linked server, or null (also once it was destroyed). Not owned.
  TqOPCServer* OPCServer() const { return server_.data(); }
  /// Lets go of the linked server (bindings unlinked; its OnDatachange given
  /// back when ours is installed there), then, outside the designer, hooks
  /// value (its current OnDatachange is kept and called after ours) and
  /// links every binding, which may write current values at once. In the
  /// designer only the link is stored. Assigning the server that is already
  /// linked hooks it again; the component never chains to itself.
  void SetOPCServer(TqOPCServer* value);
  /// The bindings; owned by the component, never null.
  TqGUIItems* Items() const { return items_.get(); }
  /// Copies the bindings of value (collection assignment); the component
  /// keeps its own collection.
  void SetItems(TqGUIItems* value);
  /// Whether this component's handler is the linked server's OnDatachange.
  bool Hooked() const;
  /// The handler the linked server had when it was hooked (called after
  /// ours); empty when it had none or is not hooked.
  TOnOPCDataChangeEvent SavedOnDatachange() const;

  /// The server's data change handler: for each listed item, in order, every
  /// binding in its GUIList gets the item's value (SetValueToControl); then
  /// the saved handler runs once. A binding destroyed during the delivery is
  /// not visited again; bindings added during it wait for the next one.
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
  TOnOPCDataChangeEvent ownHandler();
  /// The link itself, watching the server's destruction.
  void setLink(TqOPCServer* value);
  /// Installs our handler on server unless its chain holds it already.
  void hook(TqOPCServer* server);
  /// Gives server back what we found there when ours is installed there.
  void unhook(TqOPCServer* server);
  /// Going away while a component hooked after us still calls us: that
  /// component calls what we found instead.
  void spliceOut(const TqOPCServer* server, const TOnOPCDataChangeEvent& saved);
  struct Hook;
  Hook* findHook(const QObject* server);
  /// Every binding of control is told that it is gone.
  void watchControl(QWidget* control);
  void componentDestroyed(QObject* object);

  QPointer<TqOPCServer> server_;
  const QObject* serverKey_ = nullptr;  // compared only: identifies a dying server
  // The servers whose OnDatachange chain holds our handler, each with the
  // handler we found there. Usually one; a server stays listed while a
  // handler installed after ours (another binding component's) still calls
  // ours, so deliveries from it keep reaching what we found there.
  struct Hook {
    TqOPCServer* server;  // alive: a destroyed one leaves the list at once
    TOnOPCDataChangeEvent saved;
  };
  std::vector<Hook> hooks_;
  std::unique_ptr<TqGUIItems> items_;
  // Counts bindings leaving a GUIList, so a delivery notices cheaply that its
  // walk must check what is still there.
  quint64 unlinks_ = 0;
};
