// TComponent: the base of the library's components. The owner is the QObject
// parent (it destroys the component), the name is the objectName, and the
// component state tells whether it is being loaded from a saved form, sits in
// a designer, or is being destroyed.
#pragma once

#include <QFlags>

#include "tpersistent.h"

enum TComponentStateFlag {
  csLoading = 0x1,     ///< properties are being read from a saved form
  csDesigning = 0x2,   ///< the component sits in a form designer
  csDestroying = 0x4,  ///< the destructor has started
};
Q_DECLARE_FLAGS(TComponentState, TComponentStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TComponentState)

class TComponent : public TPersistent {
  Q_OBJECT

 public:
  /// owner (may be null) becomes the QObject parent; a designing owner makes
  /// the new component designing too.
  explicit TComponent(QObject* owner = nullptr);
  ~TComponent() override;

  /// The owning component, or null when the parent is not a TComponent.
  TComponent* Owner() const;
  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }
  /// The components this one owns, in creation order.
  int ComponentCount() const;
  TComponent* Components(int index) const;
  TComponent* FindComponent(const QString& name) const;

  TComponentState ComponentState() const { return state_; }
  bool IsLoading() const { return state_.testFlag(csLoading); }
  bool IsDesigning() const { return state_.testFlag(csDesigning); }
  bool IsDestroying() const { return state_.testFlag(csDestroying); }

  /// Marks the start (true) or end (false) of reading a saved form. Loaded()
  /// ends it as well.
  void SetLoading(bool loading);
  /// Puts the component (and, with children, the components it owns) into
  /// or out of the designer.
  void SetDesigning(bool designing, bool children = true);
  /// Marks the component as being destroyed; derived destructors call this
  /// first so that what they do sees csDestroying.
  void Destroying();

  /// Called when all properties of a saved form have been read. The base
  /// clears csLoading; overrides call it first.
  virtual void Loaded();

  QString GetNamePath() const override { return Name(); }

 private:
  TComponentState state_;
};
