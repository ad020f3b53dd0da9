// A group's item enumerator across the wire: the client's proxy and the
// host's stub.
#include <algorithm>
#include <cstring>
#include <vector>

#include "opc/remote/enumproxybase_p.h"
#include "opc/remote/enumstubbase_p.h"
#include "opc/remote/itemmarshal_p.h"

namespace opc::remote {

namespace {

// Next hands over one task-memory block of what arrived; the elements are
// held here until all arrived.
class EnumItemAttributesProxy final
    : public EnumProxyBase<wire::EnumItemAttributes, IEnumOPCItemAttributes, E_INVALIDARG> {
 public:
  using EnumProxyBase::EnumProxyBase;

  HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
    if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
    *ppItemArray = nullptr;
    *pceltFetched = 0;
    std::vector<OPCITEMATTRIBUTES> got;
    const auto dropAll = [&] {
      for (OPCITEMATTRIBUTES& a : got) clearItemAttributes(a);
      got.clear();
    };
    ULONG fetched = 0;
    const HRESULT hr = fetch(celt, fetched, [&](auto in, ULONG) {
      got.emplace_back();
      if (SUCCEEDED(takeItemAttributes(in, got.back()))) return true;
      got.pop_back();  // holds nothing
      return false;
    });
    if (FAILED(hr)) {
      dropAll();
      return hr;
    }
    if (got.empty()) return hr;
    auto* out =
        static_cast<OPCITEMATTRIBUTES*>(CoTaskMemAlloc(sizeof(OPCITEMATTRIBUTES) * got.size()));
    if (!out) {
      dropAll();
      return E_OUTOFMEMORY;
    }
    std::memcpy(static_cast<void*>(out), got.data(), sizeof(OPCITEMATTRIBUTES) * got.size());
    *ppItemArray = out;
    *pceltFetched = ULONG(got.size());
    return hr;
  }
};

// Next's elements come as one task-memory block from the enumerator.
class EnumItemAttributesStub final
    : public EnumStubBase<wire::EnumItemAttributes, IEnumOPCItemAttributes,
                          wire::Kind::ENUM_ITEM_ATTRIBUTES> {
 public:
  EnumItemAttributesStub(std::shared_ptr<HostConnection> connection, ComPtr<IUnknown> object)
      : EnumStubBase(std::move(connection), object.as<IEnumOPCItemAttributes>()) {}

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    const GUID iid = guidFrom(context.getParams().getIid());
    if (!enumerator() || (iid != IID_IEnumOPCItemAttributes && iid != IID_IUnknown))
      return answer(context, E_NOINTERFACE);
    return answerObject(context, S_OK, enumerator(), wire::Kind::ENUM_ITEM_ATTRIBUTES,
                        [](auto r) { return r.initObject(); });
  }

  HRESULT putNext(IEnumOPCItemAttributes& e, ULONG count, NextResults r) override {
    OPCITEMATTRIBUTES* items = nullptr;
    ULONG fetched = 0;
    const HRESULT hr = e.Next(count, &items, &fetched);
    // Never more than asked for, whatever the server claims.
    const ULONG n = items ? std::min(fetched, count) : 0;
    if (SUCCEEDED(hr)) {
      auto list = r.initItems(n);
      for (ULONG i = 0; i < n; ++i) putItemAttributes(list[i], items[i]);
    }
    for (ULONG i = 0; i < n; ++i) clearItemAttributes(items[i]);
    CoTaskMemFree(items);
    return hr;
  }
};

}  // namespace

HRESULT makeEnumItemAttributesProxy(const std::shared_ptr<Session>& session,
                                    wire::ObjectRef::Reader ref, REFIID iid, void** ppv) {
  *ppv = nullptr;
  if (!ref.hasObject()) return RPC_E_INVALID_DATA;
  return makeCom<EnumItemAttributesProxy>(session, ref)->QueryInterface(iid, ppv);
}

wire::Unknown::Client makeEnumItemAttributesStub(const std::shared_ptr<HostConnection>& connection,
                                                 ComPtr<IUnknown> enumerator) {
  return kj::heap<EnumItemAttributesStub>(connection, std::move(enumerator));
}

}  // namespace opc::remote
