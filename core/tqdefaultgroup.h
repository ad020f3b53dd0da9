// TqDefaultGroup: the values a new group of a server component starts with.
#pragma once

#include "tpersistent.h"

class TqDefaultGroup : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(bool IsActive MEMBER IsActive)
  Q_PROPERTY(int UpdateRate MEMBER UpdateRate)
  Q_PROPERTY(float DeadBand MEMBER DeadBand)
  Q_PROPERTY(int LocaleId MEMBER LocaleId)
  Q_PROPERTY(int TimeBias MEMBER TimeBias)

 public:
  /// owner is what GetOwner reports (the server component); not owned.
  explicit TqDefaultGroup(TPersistent* owner = nullptr);
  ~TqDefaultGroup() override;

  bool IsActive = true;
  qint32 UpdateRate = 1000;  ///< milliseconds
  float DeadBand = 0.0f;     ///< percent
  qint32 LocaleId = 0;
  qint32 TimeBias = 0;  ///< minutes

  TPersistent* GetOwner() const override { return owner_; }
  QString GetNamePath() const override;

 protected:
  void AssignTo(TPersistent* dest) const override;

 private:
  TPersistent* owner_;
};
