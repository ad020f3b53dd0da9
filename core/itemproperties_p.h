// Internal to the client library, not API: the results of the three
// IOPCItemProperties calls, held so that every array and every string or
// value in them is released on every path, a raised failure included.
#pragma once

#include <QString>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/taskmem.h"

namespace veze6::core::detail {

/// QueryAvailableProperties: ids, descriptions and data types.
struct PropertyListing {
  PropertyListing(IOPCItemProperties* properties, const QString& itemId);
  ~PropertyListing();
  PropertyListing(const PropertyListing&) = delete;
  PropertyListing& operator=(const PropertyListing&) = delete;

  /// The number of properties listed; 0 when an array is missing.
  DWORD size() const { return ids && descriptions && types ? count : 0; }

  HRESULT hr = E_FAIL;
  DWORD count = 0;
  opc::TaskOut<DWORD> ids;
  opc::TaskOut<LPWSTR> descriptions;
  opc::TaskOut<VARTYPE> types;
};

/// GetItemProperties: a value and an error code per requested id.
struct PropertyValues {
  PropertyValues(IOPCItemProperties* properties, const QString& itemId,
                 std::vector<DWORD> propertyIds);
  ~PropertyValues();
  PropertyValues(const PropertyValues&) = delete;
  PropertyValues& operator=(const PropertyValues&) = delete;

  /// Whether the value at index was read (its own code exactly S_OK).
  bool read(std::size_t index) const { return values && errors && errors[index] == S_OK; }

  HRESULT hr = E_FAIL;
  std::vector<DWORD> ids;
  opc::TaskOut<VARIANT> values;
  opc::TaskOut<HRESULT> errors;
};

/// LookupItemIDs: an item id and an error code per requested id.
struct PropertyItemIds {
  PropertyItemIds(IOPCItemProperties* properties, const QString& itemId,
                  std::vector<DWORD> propertyIds);
  ~PropertyItemIds();
  PropertyItemIds(const PropertyItemIds&) = delete;
  PropertyItemIds& operator=(const PropertyItemIds&) = delete;

  HRESULT hr = E_FAIL;
  std::vector<DWORD> ids;
  opc::TaskOut<LPWSTR> itemIds;
  opc::TaskOut<HRESULT> errors;
};

}  // namespace veze6::core::detail
