// The client's proxies of groups and of their item enumerator (placeholders
// until the group side arrives).
#include "opc/remote/objectref_p.h"

namespace opc::remote {

HRESULT makeGroupProxy(const std::shared_ptr<Session>&, wire::ObjectRef::Reader, REFIID,
                       void** ppv) {
  *ppv = nullptr;
  return E_NOTIMPL;
}

HRESULT makeEnumItemAttributesProxy(const std::shared_ptr<Session>&, wire::ObjectRef::Reader,
                                    REFIID, void** ppv) {
  *ppv = nullptr;
  return E_NOTIMPL;
}

}  // namespace opc::remote
