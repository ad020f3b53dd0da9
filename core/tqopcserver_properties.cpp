// The server component's item-property operations.
#include "itemproperties_p.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "tqopcserver.h"

using namespace veze6::core::detail;

bool TqOPCServer::QueryAvailableProperties(const QString& itemId, QStringList& list) {
  list.clear();
  if (itemProperties_) {
    PropertyListing listing(itemProperties_.get(), itemId);
    CheckCall(listing.hr);
    for (DWORD i = 0; i < listing.size(); ++i)
      list.append(QString::number(listing.ids[i]) + QStringLiteral(",\"") +
                  WideToText(listing.descriptions[i]) + QStringLiteral("\",") +
                  QString::number(listing.types[i]));
  }
  return !list.isEmpty();
}

bool TqOPCServer::GetItemProperty(const QString& itemId, qint32 propertyId, OleVariant& value) {
  value.clear();
  if (!itemProperties_) return false;
  PropertyValues values(itemProperties_.get(), itemId, {DWORD(propertyId)});
  if (FAILED(values.hr) || !values.read(0)) return false;
  value = OleVariant::attach(values.values[0]);
  return true;
}

QString TqOPCServer::LookupItemId(const QString& itemId, quint32 propertyId) {
  if (!itemProperties_) return {};
  PropertyItemIds lookup(itemProperties_.get(), itemId, {DWORD(propertyId)});
  if (FAILED(lookup.hr) || !lookup.errors) return {};
  const HRESULT result = lookup.errors[0];
  CheckCall(result);
  if (result != S_OK || !lookup.itemIds) return {};
  return WideToText(lookup.itemIds[0]);
}
