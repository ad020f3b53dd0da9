// TqDefaultItem: the values a new item of a group starts with.
#pragma once

#include "qopctypes.h"
#include "tpersistent.h"

class TqDefaultItem : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(bool IsActive MEMBER IsActive)
  Q_PROPERTY(QString AccessPath MEMBER AccessPath)
  Q_PROPERTY(qOPC::OPCADatatype RequestDataType MEMBER RequestDataType)

 public:
  /// owner is what GetOwner reports (the group); not owned.
  explicit TqDefaultItem(TPersistent* owner = nullptr);
  ~TqDefaultItem() override;

  bool IsActive = true;  ///< declared default True: saved only when False
  QString AccessPath;
  OPCADatatype RequestDataType = vtEMPTY;

  TPersistent* GetOwner() const override { return owner_; }
  QString GetNamePath() const override;
  bool IsPropertyStored(const QMetaProperty& property) const override;

 protected:
  void AssignTo(TPersistent* dest) const override;

 private:
  TPersistent* owner_;
};
