// Internal to the remote transport; not API.
//
// What every enumerator stub shares: Next's checks, Skip, Reset and Clone.
// The stubs differ only in how Next's elements come from the object (into
// an array of the stub's, or as a task-memory block) and go onto the wire.
#pragma once

#include "opc/remote/stubbase_p.h"

namespace opc::remote {

template <class Cap, class I, wire::Kind kSelf>
class EnumStubBase : public Cap::Server, protected StubBase {
  using Server = typename Cap::Server;

 public:
  EnumStubBase(std::shared_ptr<HostConnection> connection, ComPtr<I> e)
      : StubBase(std::move(connection), nullptr), enum_(std::move(e)) {}

 protected:
  using NextResults = typename Cap::NextResults::Builder;

  /// Calls Next for `count` elements and puts what it fetched into `r`;
  /// returns Next's code.
  virtual HRESULT putNext(I& e, ULONG count, NextResults r) = 0;

  kj::Promise<void> queryInterface(typename Server::QueryInterfaceContext context) override {
    return answer(context, E_NOINTERFACE);
  }

  kj::Promise<void> next(typename Server::NextContext context) override {
    if (!enum_) return answer(context, E_NOINTERFACE);
    const ULONG count = context.getParams().getCount();
    // The proxy splits larger requests; a bigger one is not from it.
    if (count > kMaxEnumBatch) return answer(context, E_INVALIDARG);
    return answer(context, putNext(*enum_, count, context.getResults()));
  }

  kj::Promise<void> skip(typename Server::SkipContext context) override {
    if (!enum_) return answer(context, E_NOINTERFACE);
    return answer(context, enum_->Skip(context.getParams().getCount()));
  }

  kj::Promise<void> reset(typename Server::ResetContext context) override {
    if (!enum_) return answer(context, E_NOINTERFACE);
    return answer(context, enum_->Reset());
  }

  kj::Promise<void> clone(typename Server::CloneContext context) override {
    if (!enum_) return answer(context, E_NOINTERFACE);
    ComPtr<I> copy;
    const HRESULT hr = enum_->Clone(copy.put());
    return answerObject(context, hr, copy, kSelf, [](auto r) { return r.initEnumerator(); });
  }

  const ComPtr<I>& enumerator() const { return enum_; }

 private:
  ComPtr<I> enum_;
};

}  // namespace opc::remote
