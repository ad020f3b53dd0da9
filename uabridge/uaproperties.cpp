#include "uaproperties.h"

namespace veze6::uab {

UaProperties::UaProperties(std::shared_ptr<UaSession> session) : session_(std::move(session)) {}

HRESULT UaProperties::QueryAvailableProperties(LPWSTR, DWORD*, DWORD**, LPWSTR**, VARTYPE**) {
  return E_NOTIMPL;
}
HRESULT UaProperties::GetItemProperties(LPWSTR, DWORD, DWORD*, VARIANT**, HRESULT**) {
  return E_NOTIMPL;
}
HRESULT UaProperties::LookupItemIDs(LPWSTR, DWORD, DWORD*, LPWSTR**, HRESULT**) {
  return E_NOTIMPL;
}

}  // namespace veze6::uab
