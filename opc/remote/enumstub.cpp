#include <kj/debug.h>

#include <vector>

#include "opc/remote/enumproxy_p.h"
#include "opc/remote/enumstub_p.h"
#include "opc/remote/stubbase_p.h"

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

template <class Cap, class I, class Elements, wire::Kind kSelf>
class EnumStub final : public Cap::Server, private StubBase {
  using Elem = typename Elements::Elem;

 public:
  EnumStub(std::shared_ptr<HostConnection> connection, ComPtr<I> e)
      : StubBase(std::move(connection), nullptr), enum_(std::move(e)) {}

 protected:
  kj::Promise<void> queryInterface(typename Cap::Server::QueryInterfaceContext context) override {
    return answer(context, E_NOINTERFACE);
  }

  kj::Promise<void> next(typename Cap::Server::NextContext context) override {
    const ULONG count = context.getParams().getCount();
    // The proxy splits larger requests; a bigger one is not from it.
    if (count > kMaxEnumBatch) return answer(context, E_INVALIDARG);
    std::vector<Elem> items(count);
    ULONG fetched = 0;
    const HRESULT hr = enum_->Next(count, items.data(), &fetched);
    auto r = context.getResults();
    if (SUCCEEDED(hr) && fetched > count) {
      // A server that claims more than the array holds: keep what is there.
      fetched = count;
    }
    if (FAILED(hr)) fetched = 0;
    r.setHr(hr);
    auto list = r.initItems(fetched);
    for (ULONG i = 0; i < fetched; ++i) Elements::write(connection(), list, i, items[i]);
    for (ULONG i = 0; i < fetched; ++i) Elements::drop(items[i]);
    return kj::READY_NOW;
  }

  kj::Promise<void> skip(typename Cap::Server::SkipContext context) override {
    return answer(context, enum_->Skip(context.getParams().getCount()));
  }

  kj::Promise<void> reset(typename Cap::Server::ResetContext context) override {
    return answer(context, enum_->Reset());
  }

  kj::Promise<void> clone(typename Cap::Server::CloneContext context) override {
    ComPtr<I> copy;
    const HRESULT hr = enum_->Clone(copy.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && copy) {
      refFromObject(connection(), ComPtr<IUnknown>(copy), kSelf, r.initEnumerator());
    }
    return kj::READY_NOW;
  }

 private:
  ComPtr<I> enum_;
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
