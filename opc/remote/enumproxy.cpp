#include "opc/remote/enumproxybase_p.h"

namespace opc::remote {

namespace {

// How each enumerator's elements come off the wire and are let go of when a
// later one turns out malformed.
struct StringElements {
  using Elem = LPOLESTR;
  static bool read(const std::shared_ptr<Session>&, capnp::Data::Reader in, Elem* out) {
    return taskWide(true, in, out);
  }
  static void drop(Elem& e) {
    CoTaskMemFree(e);
    e = nullptr;
  }
};

struct GuidElements {
  using Elem = GUID;
  static bool read(const std::shared_ptr<Session>&, wire::Guid::Reader in, Elem* out) {
    *out = guidFrom(in);
    return true;
  }
  static void drop(Elem&) {}
};

template <class I>
struct ObjectElements {
  using Elem = I*;
  static bool read(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader in, Elem* out) {
    return SUCCEEDED(proxyFromRef(session, in, I::iid(), reinterpret_cast<void**>(out)));
  }
  static void drop(Elem& e) {
    if (e) e->Release();
    e = nullptr;
  }
};

// An enumerator that fills the caller's array.
template <class Cap, class I, class Elements>
class EnumProxy final : public EnumProxyBase<Cap, I, E_POINTER> {
  using Elem = typename Elements::Elem;

 public:
  using EnumProxyBase<Cap, I, E_POINTER>::EnumProxyBase;

  HRESULT Next(ULONG celt, Elem* rgelt, ULONG* pceltFetched) override {
    if (!rgelt) return E_POINTER;
    if (celt != 1 && !pceltFetched) return E_INVALIDARG;
    ULONG fetched = 0;
    const HRESULT hr = this->fetch(celt, fetched, [&](auto in, ULONG i) {
      return Elements::read(this->session(), in, &rgelt[i]);
    });
    if (FAILED(hr)) {
      for (ULONG i = 0; i < fetched; ++i) Elements::drop(rgelt[i]);
      fetched = 0;
    }
    if (pceltFetched) *pceltFetched = fetched;
    if (FAILED(hr)) return hr;
    return fetched == celt ? S_OK : S_FALSE;
  }
};

template <class Proxy>
HRESULT make(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref, REFIID iid,
             void** ppv) {
  return makeCom<Proxy>(session, ref)->QueryInterface(iid, ppv);
}

}  // namespace

HRESULT makeEnumProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                      REFIID iid, void** ppv) {
  switch (ref.getKind()) {
    case wire::Kind::ENUM_STRING:
      return make<EnumProxy<wire::EnumString, IEnumString, StringElements>>(session, ref, iid, ppv);
    case wire::Kind::ENUM_GUID:
      return make<EnumProxy<wire::EnumGuid, IEnumGUID, GuidElements>>(session, ref, iid, ppv);
    case wire::Kind::ENUM_UNKNOWN:
      return make<EnumProxy<wire::EnumUnknown, IEnumUnknown, ObjectElements<IUnknown>>>(
          session, ref, iid, ppv);
    case wire::Kind::ENUM_CONNECTION_POINTS:
      return make<EnumProxy<wire::EnumConnectionPoints, IEnumConnectionPoints,
                            ObjectElements<IConnectionPoint>>>(session, ref, iid, ppv);
    default:
      return E_NOINTERFACE;
  }
}

}  // namespace opc::remote
