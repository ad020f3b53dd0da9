// TqOPCGroup: a group of items with its own update rate, dead band, active
// flag, locale and time bias. Its properties are kept locally at all times.
#pragma once

#include <memory>

#include "tcollectionitem.h"
#include "tqdefaultitem.h"
#include "tqopcitems.h"

class TqOPCGroups;
class TqOPCServer;

class TqOPCGroup : public TCollectionItem {
  Q_OBJECT
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(bool IsActive READ IsActive WRITE SetIsActive)
  Q_PROPERTY(int UpdateRate READ UpdateRate WRITE SetUpdateRate)
  Q_PROPERTY(float DeadBand READ DeadBand WRITE SetDeadBand)
  Q_PROPERTY(int LocaleId READ LocaleId WRITE SetLocaleId)
  Q_PROPERTY(int TimeBias READ TimeBias WRITE SetTimeBias)
  Q_PROPERTY(TqDefaultItem* DefaultItem READ DefaultItem CONSTANT)
  Q_PROPERTY(TqOPCItems* OPCItems READ OPCItems CONSTANT)

 public:
  /// Joins groups and starts from the server component's group defaults,
  /// named "TqOPCGroup" followed by its index. Use the collection's Add.
  explicit TqOPCGroup(TqOPCGroups* groups);
  ~TqOPCGroup() override;

  QString Name() const { return name_; }
  bool IsActive() const { return isActive_; }
  qint32 UpdateRate() const { return updateRate_; }
  float DeadBand() const { return deadBand_; }
  qint32 LocaleId() const { return localeId_; }
  qint32 TimeBias() const { return timeBias_; }
  bool IsPublic() const { return isPublic_; }
  bool IsSubscribed() const { return isSubscribed_; }

  void SetName(const QString& value);
  void SetIsActive(bool value);
  void SetUpdateRate(qint32 value);
  void SetDeadBand(float value);
  void SetLocaleId(qint32 value);
  void SetTimeBias(qint32 value);
  void SetIsPublic(bool value);
  void SetIsSubscribed(bool value);

  /// Defaults of the group's new items; owned by the group.
  TqDefaultItem* DefaultItem() const { return defaultItem_.get(); }
  /// The group's items; owned by the group.
  TqOPCItems* OPCItems() const { return items_.get(); }
  /// The owning server component.
  TqOPCServer* Server() const { return server_; }

  /// Name, or the class name when Name is blank.
  QString GetDisplayName() const override;

 private:
  QString name_;
  bool isActive_ = false;
  qint32 updateRate_ = 0;
  float deadBand_ = 0.0f;
  qint32 localeId_ = 0;
  qint32 timeBias_ = 0;
  bool isPublic_ = false;
  bool isSubscribed_ = false;
  TqOPCServer* server_;
  std::unique_ptr<TqDefaultItem> defaultItem_;
  std::unique_ptr<TqOPCItems> items_;
};
