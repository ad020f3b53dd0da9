#include "tqopcitemproperties.h"

#include "exceptions.h"
#include "itemproperties_p.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "tqopcserver.h"

using namespace veze6::core::detail;

TqOPCItemProperties::TqOPCItemProperties() = default;

TqOPCItemProperties::TqOPCItemProperties(TqOPCServer* server, const QString& itemId)
    : itemId_(itemId) {
  SetOPCServer(server);
}

TqOPCItemProperties::~TqOPCItemProperties() {
  while (!items_.empty()) items_.pop_back();  // last first
}

TqOPCItemProperty* TqOPCItemProperties::GetItem(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  return items_[std::size_t(index)].get();
}

std::unique_ptr<TqOPCItemProperty> TqOPCItemProperties::SetItem(
    int index, std::unique_ptr<TqOPCItemProperty> entry) {
  if (index < 0 || index >= Count())
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  if (!entry) throw EListError(QStringLiteral("List entry missing"));
  std::swap(items_[std::size_t(index)], entry);
  return entry;
}

void TqOPCItemProperties::SetItemId(const QString& itemId) {
  if (itemId == itemId_) return;
  itemId_ = itemId;
  Refresh();
}

void TqOPCItemProperties::SetOPCServer(TqOPCServer* server) {
  if (server == server_) return;
  server_ = server;
  Refresh();
}

void TqOPCItemProperties::QueryAvailableProperties() {
  while (!items_.empty()) items_.pop_back();
  const ComPtr<IOPCItemProperties> held = server_ ? server_->HeldItemPropIF() : nullptr;
  if (itemId_.isEmpty() || !held) return;
  PropertyListing listing(held.get(), itemId_);
  server_->NoteCallResult(listing.hr);
  OPCCheck(listing.hr);
  items_.reserve(listing.size());
  for (DWORD i = 0; i < listing.size(); ++i) {
    auto entry = std::make_unique<TqOPCItemProperty>();
    entry->PropertyID = qint32(listing.ids[i]);
    entry->Description = WideToText(listing.descriptions[i]);
    entry->DataType = qint32(listing.types[i]);
    items_.push_back(std::move(entry));
  }
}

bool TqOPCItemProperties::GetItemProperties() {
  const ComPtr<IOPCItemProperties> held = server_ ? server_->HeldItemPropIF() : nullptr;
  if (items_.empty() || itemId_.isEmpty() || !held) return false;
  std::vector<DWORD> ids;
  ids.reserve(items_.size());
  for (const auto& entry : items_) ids.push_back(DWORD(entry->PropertyID));
  PropertyValues values(held.get(), itemId_, std::move(ids));
  if (FAILED(values.hr)) return false;
  bool result = true;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    TqOPCItemProperty& entry = *items_[i];
    entry.Value.clear();
    if (!values.read(i)) {
      result = false;
      continue;
    }
    entry.Value = OleVariant::attach(values.values[i]);
  }
  return result;
}

void TqOPCItemProperties::Refresh() {
  QueryAvailableProperties();
  GetItemProperties();
}
