// TPersistent: an object with published properties (Q_PROPERTY, in
// declaration order) that can be assigned from another and saved with its
// owner.
#pragma once

#include <QMetaProperty>
#include <QObject>
#include <QString>

class TPersistent : public QObject {
  Q_OBJECT

 public:
  explicit TPersistent(QObject* parent = nullptr);
  ~TPersistent() override;

  /// Copies source's values into this object. The base raises EConvertError
  /// ("Cannot assign a X to a Y") unless source can assign itself to this
  /// object (AssignTo).
  virtual void Assign(const TPersistent* source);
  /// The object that owns this one in a saved form (the collection of an
  /// item, the component of a nested object); null at the top.
  virtual TPersistent* GetOwner() const { return nullptr; }
  /// The dotted path by which the object is known in its owner's form.
  virtual QString GetNamePath() const;
  /// The class name ("TqOPCServer").
  QString ClassName() const { return QString::fromLatin1(metaObject()->className()); }

  /// Whether a published property is written when the object is saved: a
  /// property marked STORED false never is; a text property only when not
  /// empty; a floating-point property only when not 0; others always. A class
  /// with a declared default overrides this and leaves the default out.
  virtual bool IsPropertyStored(const QMetaProperty& property) const;

 protected:
  /// Assigns this object to dest; the base raises the same error as Assign.
  virtual void AssignTo(TPersistent* dest) const;
};
