#include "tqopcgroup.h"

#include <exception>

#include "application.h"
#include "exceptions.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopcstrings.h"
#include "tqdefaultgroup.h"
#include "tqopcadvisesink.h"
#include "tqopcdatacallback.h"
#include "tqopcgroups.h"
#include "tqopcitem.h"
#include "tqopcitemupdater_p.h"
#include "tqopcserver.h"

namespace {

// Servers get True as all bits set.
BOOL toBool(bool value) { return value ? BOOL(-1) : BOOL(0); }

}  // namespace

TqOPCGroup::TqOPCGroup(TqOPCGroups* groups) : TCollectionItem(groups), server_(groups->FOwner()) {
  const TqDefaultGroup* defaults = server_->OPCGroupDefault();
  SetIsActive(defaults->IsActive);
  SetUpdateRate(defaults->UpdateRate);
  SetDeadBand(defaults->DeadBand);
  SetLocaleId(defaults->LocaleId);
  SetTimeBias(defaults->TimeBias);
  // The index, not a unique number: names are not compared here.
  name_ = ClassName() + QString::number(groups->Count() - 1);
  defaultItem_ = std::make_unique<TqDefaultItem>(this);
  items_ = std::make_unique<TqOPCItems>(this);
  isPublic_ = false;
  isSubscribed_ = false;
  if (server_->IsDesigning() && server_->server_ && !groups->addingNamed_) {
    try {
      OPCAddGroup();
    } catch (...) {
      // The destructor does not run for a half-built group: whatever reached
      // the server goes again here.
      OPCRemoveGroup();
      throw;
    }
  }
}

TqOPCGroup::~TqOPCGroup() {
  if (itemMgt_) {
    try {
      OPCRemoveGroup();
    } catch (...) {
      HandleCurrentException(nullptr);
    }
  }
  items_.reset();
  defaultItem_.reset();
}

void TqOPCGroup::BeforeDestruction() { OPCRemoveGroup(); }

void TqOPCGroup::ChangingCollection(TCollection* target) {
  auto* groups = qobject_cast<TqOPCGroups*>(target);
  if (!groups)
    throw EOPCException(QStringLiteral("group %1 belongs to a server component").arg(name_));
  // Its server group and its client handle there belong to the old component.
  if (itemMgt_) throw EOPCException(_STR_NOTPOSSIBLE());
  server_ = groups->FOwner();
}

// ---- life on the server -----------------------------------------------------------

void TqOPCGroup::releaseGroupInterfaces() {
  syncIO_.reset();
  asyncIO_.reset();
  asyncIO2_.reset();
  stateMgt_.reset();
}

void TqOPCGroup::OPCAddGroup() {
  const ComPtr<IOPCServer> server = server_->GetOPCServer();
  if (!server) return;
  // Never twice on the server: the first server group would be lost with
  // the items' handles in it.
  if (itemMgt_) OPCRemoveGroup();
  hServerGroup_ = kNoServerHandle;
  taskId_ = 0;
  taskTransactionId_ = 0;
  releaseGroupInterfaces();
  itemMgt_.reset();

  const opc::Bstr name = TextToWide(name_);
  LONG timeBias = timeBias_;
  FLOAT deadBand = deadBand_;
  OPCHANDLE serverGroup = kNoServerHandle;
  DWORD revisedRate = DWORD(updateRate_);  // kept when the server revises nothing
  ComPtr<IOPCItemMgt> itemMgt;
  const HRESULT hr =
      server->AddGroup(name.get(), toBool(isActive_), DWORD(updateRate_), ClientHandle(), &timeBias,
                       &deadBand, DWORD(localeId_), &serverGroup, &revisedRate, IID_IOPCItemMgt,
                       reinterpret_cast<IUnknown**>(itemMgt.put()));
  server_->CheckCall(hr);
  if (!itemMgt) {
    // A server group we cannot reach is of no use; it must not stay behind.
    server->RemoveGroup(serverGroup, FALSE);
    OleError(E_NOINTERFACE);
  }
  itemMgt_ = std::move(itemMgt);
  hServerGroup_ = serverGroup;

  itemMgt_.as(stateMgt_);
  itemMgt_.as(syncIO_);
  itemMgt_.as(asyncIO2_);
  if (!asyncIO2_) itemMgt_.as(asyncIO_);

  // The rate the group runs at on the server, stored before the items so
  // that it holds even when adding them raises.
  updateRate_ = qint32(revisedRate);
  items_->OPCAddAllItems();
  connectDataSink();
}

void TqOPCGroup::OPCRemoveGroup() {
  if (!itemMgt_) {
    hServerGroup_ = kNoServerHandle;
    return;
  }
  releaseGroupInterfaces();
  disconnectDataSink();
  std::exception_ptr failure;
  try {
    items_->OPCRemoveAllItems();
  } catch (...) {
    failure = std::current_exception();
  }
  itemMgt_.reset();
  if (hServerGroup_ != kNoServerHandle) {
    if (IOPCServer* server = server_->server_.get()) server->RemoveGroup(hServerGroup_, FALSE);
  }
  hServerGroup_ = kNoServerHandle;
  // Items never keep a handle into a group that is gone.
  for (TCollectionItem* item : *items_)
    TqOPCItemUpdater::ClearServerHandle(*static_cast<TqOPCItem*>(item));
  if (failure) std::rethrow_exception(failure);
}

THiddenWindow* TqOPCGroup::callbackWindow() const { return server_->GetHandle(); }

bool TqOPCGroup::designing() const { return server_->IsDesigning(); }

void TqOPCGroup::checkCall(HRESULT code) const { server_->CheckCall(code); }

bool TqOPCGroup::singleItemCalls() const {
  // While loading, properties are only stored: the component's server side
  // is rebuilt when loading ends.
  return !server_->BatchMode() && server_->Active() && !server_->IsLoading();
}

// ---- state -------------------------------------------------------------------------

void TqOPCGroup::SetName(const QString& value) {
  if (value == name_) return;
  if (stateMgt_) server_->CheckCall(stateMgt_->SetName(TextToWide(value).get()));
  name_ = value;
}

void TqOPCGroup::SetIsActive(bool value) {
  if (value == isActive_) return;
  SetState(updateRate_, value, timeBias_, deadBand_, localeId_, ID());
  isActive_ = value;
}

void TqOPCGroup::SetUpdateRate(qint32 value) {
  if (value == updateRate_) return;
  qint32 rate = value;
  SetState(rate, isActive_, timeBias_, deadBand_, localeId_, ID());
  updateRate_ = rate;
}

void TqOPCGroup::SetDeadBand(float value) {
  if (value == deadBand_) return;
  SetState(updateRate_, isActive_, timeBias_, value, localeId_, ID());
  deadBand_ = value;
}

void TqOPCGroup::SetLocaleId(qint32 value) {
  if (value == localeId_) return;
  SetState(updateRate_, isActive_, timeBias_, deadBand_, value, ID());
  localeId_ = value;
}

void TqOPCGroup::SetTimeBias(qint32 value) {
  if (value == timeBias_) return;
  SetState(updateRate_, isActive_, value, deadBand_, localeId_, ID());
  timeBias_ = value;
}

void TqOPCGroup::SetIsPublic(bool value) { isPublic_ = value; }

void TqOPCGroup::SetIsSubscribed(bool value) { isSubscribed_ = value; }

void TqOPCGroup::SetState(qint32& updateRate, bool active, qint32 timeBias, float deadBand,
                          qint32 localeId, qint32 clientGroup) {
  if (!stateMgt_) return;
  DWORD requested = DWORD(updateRate);
  // A server that succeeds without revising leaves the rate asked for, not 0.
  DWORD revised = requested;
  BOOL isActive = toBool(active);
  LONG bias = timeBias;
  FLOAT percent = deadBand;
  DWORD lcid = DWORD(localeId);
  OPCHANDLE client = OPCHANDLE(clientGroup);
  server_->CheckCall(
      stateMgt_->SetState(&requested, &revised, &isActive, &bias, &percent, &lcid, &client));
  updateRate = qint32(revised);
}

void TqOPCGroup::GetState(tGroupStateRec& state) {
  if (!itemMgt_) throw EOPCException(_STR_NOTACTIVE());
  if (!stateMgt_) OleError(E_NOINTERFACE);
  DWORD rate = 0;
  BOOL active = FALSE;
  opc::TaskString name;  // freed on every path
  LONG bias = 0;
  FLOAT percent = 0.0f;
  DWORD lcid = 0;
  OPCHANDLE client = 0;
  OPCHANDLE serverGroup = 0;
  server_->CheckCall(stateMgt_->GetState(&rate, &active, name.put(), &bias, &percent, &lcid,
                                         &client, &serverGroup));
  state.UpdateRate = qint32(rate);
  state.Active = active != FALSE;
  state.Name = WideToText(name.get());
  state.TimeBias = bias;
  state.PercentDeadband = percent;
  state.LCID = qint32(lcid);
  state.hClientGroup = client;
  state.hServerGroup = serverGroup;
}

QString TqOPCGroup::GetDisplayName() const {
  return name_.trimmed().isEmpty() ? TCollectionItem::GetDisplayName() : name_;
}

bool TqOPCGroup::IsPropertyStored(const QMetaProperty& property) const {
  if (qstrcmp(property.name(), "Name") == 0) return true;
  // A group made while loading starts with the component's default dead
  // band, so a zero of its own must be written when that default is not.
  if (qstrcmp(property.name(), "DeadBand") == 0 && deadBand_ == 0.0f)
    return server_->OPCGroupDefault()->DeadBand != 0.0f;
  return TCollectionItem::IsPropertyStored(property);
}
