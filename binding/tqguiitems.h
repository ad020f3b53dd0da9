// TqGUIItems: the bindings of a TqOPCGUI.
#pragma once

#include <memory>

#include "core/tcollection.h"
#include "tqguiitem.h"

class TqOPCGUI;

class TqGUIItems : public TCollection {
  Q_OBJECT

 public:
  /// owner (may be null) is the binding component the bindings serve; it is
  /// also what GetOwner reports.
  explicit TqGUIItems(TqOPCGUI* owner);
  /// Destroys every binding (each leaves its item's GUIList).
  ~TqGUIItems() override;

  /// A new unlinked binding at the end; owned by the collection.
  TqGUIItem* Add();
  /// The binding at index; raises EListError outside 0..Count-1.
  TqGUIItem* Items(int index) const;
  /// Copies value's settings into the binding at index.
  void SetItem(int index, const TqGUIItem* value);
  /// The binding component, or null.
  TqOPCGUI* GUI() const { return gui_; }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;

 private:
  TqOPCGUI* gui_;
};
