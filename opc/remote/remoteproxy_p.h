// The base of every client proxy: the session its calls go over, the
// capability of the host's object (kept on the RPC thread) and the
// interfaces the host listed, which QueryInterface answers from without a
// round trip (a listed interface always comes from this same proxy).
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"
#include "opc/remote/remoteruntime.h"
#include "opc/remote/session_p.h"
#include "opc/unknown.h"

namespace opc::remote {

template <class Cap, class... Interfaces>
class RemoteProxy : public ComObject<Interfaces...> {
 public:
  /// RPC thread only (it takes the reference's capability).
  RemoteProxy(std::shared_ptr<Session> session, wire::ObjectRef::Reader ref)
      : session_(std::move(session)),
        iids_(listedInterfaces(ref)),
        cap_(makeRpcOwned<typename Cap::Client>(ref.getObject().template castAs<Cap>())) {}

 protected:
  bool interfaceEnabled(REFIID iid) const override {
    return std::find(iids_.begin(), iids_.end(), iid) != iids_.end();
  }

  /// Runs a call over the session (see Session::call).
  HRESULT call(Session::Work work) const { return session_->call(std::move(work)); }
  /// The host object's capability; RPC thread only.
  typename Cap::Client& cap() const { return *cap_; }
  const std::shared_ptr<Session>& session() const { return session_; }

  /// An object out-parameter: the proxy of the answer's reference, queried
  /// for iid, when the call succeeded; RPC_E_INVALID_DATA when the answer
  /// carries no object.
  HRESULT objectOut(HRESULT hr, wire::ObjectRef::Reader ref, REFIID iid, void** out) const {
    if (FAILED(hr)) return hr;
    const HRESULT made = proxyFromRef(session_, ref, iid, out);
    return FAILED(made) ? made : hr;
  }
  template <class I>
  HRESULT objectOut(HRESULT hr, wire::ObjectRef::Reader ref, I** out) const {
    return objectOut(hr, ref, I::iid(), reinterpret_cast<void**>(out));
  }
  /// The same for an object that a success other than S_OK (S_FALSE of an
  /// empty enumeration) may come without: *out stays null then. S_OK
  /// without the object is RPC_E_INVALID_DATA, never a success the caller
  /// would take an object from.
  HRESULT optionalObjectOut(HRESULT hr, wire::ObjectRef::Reader ref, REFIID iid, void** out) const {
    return SUCCEEDED(hr) && hr != S_OK && !ref.hasObject() ? hr : objectOut(hr, ref, iid, out);
  }
  template <class I>
  HRESULT optionalObjectOut(HRESULT hr, wire::ObjectRef::Reader ref, I** out) const {
    return optionalObjectOut(hr, ref, I::iid(), reinterpret_cast<void**>(out));
  }
  HRESULT optionalObjectOut(HRESULT hr, wire::ObjectRef::Reader ref, REFIID iid,
                            IUnknown** out) const {
    return optionalObjectOut(hr, ref, iid, reinterpret_cast<void**>(out));
  }
  HRESULT objectOut(HRESULT hr, wire::ObjectRef::Reader ref, REFIID iid, IUnknown** out) const {
    return objectOut(hr, ref, iid, reinterpret_cast<void**>(out));
  }

 private:
  std::shared_ptr<Session> session_;
  std::vector<IID> iids_;
  RpcOwned<typename Cap::Client> cap_;
};

/// The code of an answer that carries nothing else.
struct AnswerCode {
  template <class Response>
  HRESULT operator()(Response&& r) const {
    return r.getHr();
  }
};

/// A reply's code for a call that succeeded but whose out-values did not
/// arrive whole: the call's own failure, or RPC_E_INVALID_DATA.
inline HRESULT replyCode(HRESULT hr, bool wellFormed) {
  return FAILED(hr) || wellFormed ? hr : RPC_E_INVALID_DATA;
}

/// A wide-string out-parameter of a call: task memory when the call
/// succeeded (null for an unset field); RPC_E_INVALID_DATA when malformed.
inline HRESULT textOut(HRESULT hr, bool has, capnp::Data::Reader in, LPWSTR* out) {
  if (FAILED(hr)) return hr;
  return replyCode(hr, taskWide(has, in, out));
}

}  // namespace opc::remote
