// A group's item enumerator across the wire: the client's proxy and the
// host's stub.
#include <algorithm>
#include <cstring>
#include <vector>

#include "enumproxy_p.h"
#include "groupreply_p.h"
#include "groupstub_util_p.h"
#include "itemmarshal_p.h"
#include "remoteproxy_p.h"

namespace opc::remote {

namespace {

class EnumItemAttributesProxy final
    : public RemoteProxy<wire::EnumItemAttributes, IEnumOPCItemAttributes> {
 public:
  using RemoteProxy::RemoteProxy;

  HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
    if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
    *ppItemArray = nullptr;
    *pceltFetched = 0;
    // Large requests go in batches; a short batch ends the enumeration. The
    // elements are held here until all arrived, then handed over in one block.
    std::vector<OPCITEMATTRIBUTES> got;
    const auto dropAll = [&] {
      for (OPCITEMATTRIBUTES& a : got) clearItemAttributes(a);
      got.clear();
    };
    HRESULT hr = S_OK;
    while (got.size() < celt) {
      const ULONG want = std::min(ULONG(celt - got.size()), kMaxEnumBatch);
      ULONG arrived = 0;
      hr = call([&]() {
        auto request = cap().nextRequest();
        request.setCount(want);
        return request.send().then([&](auto&& r) -> HRESULT {
          const HRESULT result = r.getHr();
          if (FAILED(result)) return result;
          const auto items = r.getItems();
          if (items.size() > want) return RPC_E_INVALID_DATA;
          for (; arrived < items.size(); ++arrived) {
            got.emplace_back();
            if (FAILED(takeItemAttributes(items[arrived], got.back()))) {
              got.pop_back();  // holds nothing
              return RPC_E_INVALID_DATA;
            }
          }
          return result;
        });
      });
      if (FAILED(hr)) {
        dropAll();
        return hr;
      }
      if (arrived < want) break;
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

  HRESULT Skip(ULONG celt) override {
    return call([&]() {
      auto request = cap().skipRequest();
      request.setCount(celt);
      return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
    });
  }

  HRESULT Reset() override {
    return call([&]() {
      return cap().resetRequest().send().then([](auto&& r) { return HRESULT(r.getHr()); });
    });
  }

  HRESULT Clone(IEnumOPCItemAttributes** ppEnum) override {
    if (!ppEnum) return E_INVALIDARG;
    *ppEnum = nullptr;
    return call([&]() {
      return cap().cloneRequest().send().then([&](auto&& r) {
        return takeObject(session(), r.getHr(), r.getEnumerator(), IID_IEnumOPCItemAttributes,
                          reinterpret_cast<IUnknown**>(ppEnum));
      });
    });
  }
};

class EnumItemAttributesStub final : public wire::EnumItemAttributes::Server {
 public:
  EnumItemAttributesStub(std::shared_ptr<HostConnection> connection, ComPtr<IUnknown> object)
      : connection_(std::move(connection)) {
    object.as(enumerator_);
  }

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    auto results = context.getResults();
    const GUID iid = guidFrom(context.getParams().getIid());
    if (!enumerator_ || (iid != IID_IEnumOPCItemAttributes && iid != IID_IUnknown))
      return reply(results, E_NOINTERFACE);
    refFromObject(connection_, ComPtr<IUnknown>(enumerator_), wire::Kind::ENUM_ITEM_ATTRIBUTES,
                  results.initObject());
    return reply(results, S_OK);
  }

  kj::Promise<void> next(NextContext context) override {
    auto results = context.getResults();
    if (!enumerator_) return reply(results, E_NOINTERFACE);
    OPCITEMATTRIBUTES* items = nullptr;
    ULONG fetched = 0;
    const ULONG asked = context.getParams().getCount();
    // The proxy splits larger requests; a bigger one is not from it.
    if (asked > kMaxEnumBatch) return reply(results, E_INVALIDARG);
    const HRESULT hr = enumerator_->Next(asked, &items, &fetched);
    // Never more than asked for, whatever the server claims.
    const ULONG n = items ? std::min(fetched, asked) : 0;
    if (SUCCEEDED(hr)) {
      auto list = results.initItems(n);
      for (ULONG i = 0; i < n; ++i) putItemAttributes(list[i], items[i]);
    }
    for (ULONG i = 0; i < n; ++i) clearItemAttributes(items[i]);
    CoTaskMemFree(items);
    return reply(results, hr);
  }

  kj::Promise<void> skip(SkipContext context) override {
    auto results = context.getResults();
    if (!enumerator_) return reply(results, E_NOINTERFACE);
    return reply(results, enumerator_->Skip(context.getParams().getCount()));
  }

  kj::Promise<void> reset(ResetContext context) override {
    auto results = context.getResults();
    if (!enumerator_) return reply(results, E_NOINTERFACE);
    return reply(results, enumerator_->Reset());
  }

  kj::Promise<void> clone(CloneContext context) override {
    auto results = context.getResults();
    if (!enumerator_) return reply(results, E_NOINTERFACE);
    ComPtr<IEnumOPCItemAttributes> copy;
    const HRESULT hr = enumerator_->Clone(copy.put());
    if (SUCCEEDED(hr) && copy) {
      refFromObject(connection_, ComPtr<IUnknown>(copy), wire::Kind::ENUM_ITEM_ATTRIBUTES,
                    results.initEnumerator());
    }
    return reply(results, hr);
  }

 private:
  std::shared_ptr<HostConnection> connection_;
  ComPtr<IEnumOPCItemAttributes> enumerator_;
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
