#include <kj/debug.h>

#include <vector>

#include "opc/remote/enumstubbase_p.h"

namespace opc::remote {

namespace {

// How each enumerator's elements go onto the wire and are let go of.
struct StringElements {
  using Elem = LPOLESTR;
  template <class List>
  static void write(const std::shared_ptr<HostConnection>&, List list, capnp::uint i, Elem e) {
    list.set(i, wideData(e ? e : u""));
  }
  static void drop(Elem e) { CoTaskMemFree(e); }
};

struct GuidElements {
  using Elem = GUID;
  template <class List>
  static void write(const std::shared_ptr<HostConnection>&, List list, capnp::uint i, Elem e) {
    setGuid(list[i], e);
  }
  static void drop(Elem) {}
};

template <class I, wire::Kind kKind>
struct ObjectElements {
  using Elem = I*;
  template <class List>
  static void write(const std::shared_ptr<HostConnection>& connection, List list, capnp::uint i,
                    Elem e) {
    refFromObject(connection, ComPtr<IUnknown>(e), kKind, list[i]);
  }
  static void drop(Elem e) {
    if (e) e->Release();
  }
};

// Next's elements come into an array of the stub's.
template <class Cap, class I, class Elements, wire::Kind kSelf>
class EnumStub final : public EnumStubBase<Cap, I, kSelf> {
  using Base = EnumStubBase<Cap, I, kSelf>;
  using Elem = typename Elements::Elem;

 public:
  using Base::Base;

 protected:
  HRESULT putNext(I& e, ULONG count, typename Base::NextResults r) override {
    std::vector<Elem> items(count);
    ULONG fetched = 0;
    const HRESULT hr = e.Next(count, items.data(), &fetched);
    // A server that claims more than the array holds: keep what is there.
    if (SUCCEEDED(hr) && fetched > count) fetched = count;
    if (FAILED(hr)) fetched = 0;
    auto list = r.initItems(fetched);
    for (ULONG i = 0; i < fetched; ++i) Elements::write(this->connection(), list, i, items[i]);
    for (ULONG i = 0; i < fetched; ++i) Elements::drop(items[i]);
    return hr;
  }
};

template <class Stub, class I>
wire::Unknown::Client make(const std::shared_ptr<HostConnection>& connection,
                           const ComPtr<IUnknown>& object) {
  auto e = object.as<I>();
  if (!e) return wire::Unknown::Client(KJ_EXCEPTION(FAILED, "not an enumerator of its kind"));
  return kj::heap<Stub>(connection, std::move(e));
}

}  // namespace

wire::Unknown::Client makeEnumStub(const std::shared_ptr<HostConnection>& connection,
                                   const ComPtr<IUnknown>& object, wire::Kind kind) {
  using K = wire::Kind;
  switch (kind) {
    case K::ENUM_STRING:
      return make<EnumStub<wire::EnumString, IEnumString, StringElements, K::ENUM_STRING>,
                  IEnumString>(connection, object);
    case K::ENUM_GUID:
      return make<EnumStub<wire::EnumGuid, IEnumGUID, GuidElements, K::ENUM_GUID>, IEnumGUID>(
          connection, object);
    case K::ENUM_UNKNOWN:
      return make<EnumStub<wire::EnumUnknown, IEnumUnknown, ObjectElements<IUnknown, K::GROUP>,
                           K::ENUM_UNKNOWN>,
                  IEnumUnknown>(connection, object);
    case K::ENUM_CONNECTION_POINTS:
      return make<EnumStub<wire::EnumConnectionPoints, IEnumConnectionPoints,
                           ObjectElements<IConnectionPoint, K::CONNECTION_POINT>,
                           K::ENUM_CONNECTION_POINTS>,
                  IEnumConnectionPoints>(connection, object);
    default:
      return wire::Unknown::Client(KJ_EXCEPTION(FAILED, "not an enumerator"));
  }
}

}  // namespace opc::remote
