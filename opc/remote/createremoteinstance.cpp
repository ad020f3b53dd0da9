#include <vector>

#include "opc/OPCCOMN.h"
#include "opc/remote/createremoteinstance_p.h"
#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"
#include "opc/remote/remoteproxy_p.h"
#include "opc/remote/session_p.h"

namespace opc::remote {

HRESULT createRemoteInstance(REFCLSID clsid, std::u16string_view host, DWORD count,
                             MULTI_QI* results) {
  const auto failAll = [&](HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) {
      results[i].pItf = nullptr;
      results[i].hr = hr;
    }
    return hr;
  };
  std::shared_ptr<Session> session;
  HRESULT hr = Session::connect(host, &session);
  if (FAILED(hr)) return failAll(hr);

  std::vector<HRESULT> answers(count, E_NOINTERFACE);
  ComPtr<IUnknown> object;
  hr = session->call([&]() {
    auto req = session->host().createInstanceRequest();
    setGuid(req.initClsid(), clsid);
    auto iids = req.initIids(count);
    for (DWORD i = 0; i < count; ++i) setGuid(iids[i], *results[i].pIID);
    return req.send().then([&](auto&& r) -> HRESULT {
      const HRESULT created = r.getHr();
      const auto list = r.getResults();
      if (list.size() != count) return RPC_E_INVALID_DATA;
      for (DWORD i = 0; i < count; ++i) answers[i] = list[i];
      if (FAILED(created)) return created;
      const auto kind = r.getObject().getKind();
      if (kind != wire::Kind::SERVER && kind != wire::Kind::SERVER_LIST) return RPC_E_INVALID_DATA;
      const HRESULT made = proxyFromRef(session, r.getObject(), IID_IUnknown, object.putVoid());
      return FAILED(made) ? made : created;
    });
  });
  if (FAILED(hr)) return failAll(hr);
  DWORD found = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = answers[i];
    if (FAILED(answers[i])) continue;
    void* itf = nullptr;
    results[i].hr = object->QueryInterface(*results[i].pIID, &itf);
    if (SUCCEEDED(results[i].hr) && itf) {
      results[i].pItf = static_cast<IUnknown*>(itf);
      ++found;
    } else if (SUCCEEDED(results[i].hr)) {
      results[i].hr = E_NOINTERFACE;
    }
  }
  if (found == count) return S_OK;
  return found ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

}  // namespace opc::remote
