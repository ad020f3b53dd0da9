#include "group_mocks.h"

#include <algorithm>

namespace core_test {

MockGroup::MockGroup()
    : callbackPoint_(opc::makeCom<opc::ConnectionPoint>(
          static_cast<IConnectionPointContainer*>(this), IID_IOPCDataCallback)) {}

MockGroup::~MockGroup() { callbackPoint_->detach(); }

HRESULT MockGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  ++callbackAdvises;
  *ppCP = callbackPoint_.get();
  (*ppCP)->AddRef();
  return S_OK;
}

IOPCDataCallback* MockGroup::dataCallback() const {
  const auto sinks = callbackPoint_->sinks().snapshot();
  return sinks.empty() ? nullptr : sinks.back()->as<IOPCDataCallback>();
}

HRESULT MockGroup::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                           DWORD* pdwConnection) {
  dadvises.push_back({*pformatetc, advf});
  adviseSink_ = ComPtr<IAdviseSink>(pAdvSink);
  *pdwConnection = adviseCookie = 500 + DWORD(dadvises.size());
  return S_OK;
}

HRESULT MockGroup::DUnadvise(DWORD dwConnection) {
  ++dunadvises;
  if (dwConnection != adviseCookie || !adviseSink_) return CONNECT_E_NOCONNECTION;
  adviseSink_.reset();
  return S_OK;
}

HRESULT MockGroup::QueryInterface(REFIID riid, void** ppv) {
  queries_.push_back(riid);
  return ComObject::QueryInterface(riid, ppv);
}

namespace {

std::u16string wide(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

template <class T>
T* taskArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::max<DWORD>(count, 1)));
}

HRESULT* errorArray(DWORD count, const std::vector<HRESULT>& errors) {
  HRESULT* out = taskArray<HRESULT>(count);
  for (DWORD i = 0; i < count; ++i) out[i] = i < errors.size() ? errors[i] : S_OK;
  return out;
}

HRESULT answerItems(ItemCalls* calls, const ItemAnswer& answer, DWORD count, const OPCITEMDEF* defs,
                    OPCITEMRESULT** results, HRESULT** errors) {
  if (calls) {
    std::vector<SentDef> sent;
    for (DWORD i = 0; i < count; ++i)
      sent.push_back({wide(defs[i].szAccessPath), wide(defs[i].szItemID), defs[i].bActive,
                      defs[i].hClient, defs[i].dwBlobSize, defs[i].pBlob != nullptr,
                      defs[i].vtRequestedDataType});
    calls->defs.push_back(std::move(sent));
  }
  *results = nullptr;
  *errors = nullptr;
  if (!answer.arrays) return answer.result;
  OPCITEMRESULT* r = taskArray<OPCITEMRESULT>(count);
  for (DWORD i = 0; i < count; ++i) {
    r[i] = OPCITEMRESULT{};
    const HRESULT error = i < answer.errors.size() ? answer.errors[i] : S_OK;
    if (SUCCEEDED(error)) {
      r[i].hServer = answer.firstHandle + i;
      r[i].vtCanonicalDataType = answer.canonicalType;
      r[i].dwAccessRights = answer.accessRights;
    }
    if (answer.withBlobs) {
      r[i].dwBlobSize = 8;
      r[i].pBlob = static_cast<BYTE*>(CoTaskMemAlloc(8));
    }
  }
  *results = r;
  *errors = errorArray(count, answer.errors);
  return answer.result;
}

void recordHandles(ItemCalls* calls, DWORD count, const OPCHANDLE* handles) {
  if (calls) calls->handles.emplace_back(handles, handles + count);
}

HRESULT answerHandles(DWORD count, HRESULT** errors, const std::vector<HRESULT>& list,
                      HRESULT result, bool arrays) {
  *errors = arrays ? errorArray(count, list) : nullptr;
  return result;
}

}  // namespace

AddGroupFn answerAddGroup(MockGroup* group, OPCHANDLE serverGroup, DWORD revisedRate,
                          std::vector<SentGroup>* sent) {
  return [=](LPCWSTR name, BOOL active, DWORD rate, OPCHANDLE client, LONG* bias, FLOAT* deadband,
             DWORD lcid, OPCHANDLE* server, DWORD* revised, REFIID riid, IUnknown** unk) {
    if (sent)
      sent->push_back({wide(name), active, rate, client, bias != nullptr, bias ? *bias : 0,
                       deadband != nullptr, deadband ? *deadband : 0.0f, lcid, riid});
    *server = serverGroup;
    *revised = revisedRate;
    *unk = group ? group->asItemMgt() : nullptr;
    if (*unk) (*unk)->AddRef();
    return S_OK;
  };
}

AddItemsFn answerAddItems(ItemCalls* calls, ItemAnswer answer) {
  return [=](DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) {
    return answerItems(calls, answer, count, defs, results, errors);
  };
}

ValidateItemsFn answerValidateItems(ItemCalls* calls, ItemAnswer answer) {
  return [=](DWORD count, OPCITEMDEF* defs, BOOL, OPCITEMRESULT** results, HRESULT** errors) {
    return answerItems(calls, answer, count, defs, results, errors);
  };
}

RemoveItemsFn answerRemoveItems(ItemCalls* calls, std::vector<HRESULT> errors, HRESULT result,
                                bool arrays) {
  return [=](DWORD count, OPCHANDLE* handles, HRESULT** out) {
    recordHandles(calls, count, handles);
    return answerHandles(count, out, errors, result, arrays);
  };
}

SetActiveStateFn answerSetActiveState(ItemCalls* calls, std::vector<HRESULT> errors, HRESULT result,
                                      bool arrays) {
  return [=](DWORD count, OPCHANDLE* handles, BOOL active, HRESULT** out) {
    recordHandles(calls, count, handles);
    if (calls) calls->actives.push_back(active);
    return answerHandles(count, out, errors, result, arrays);
  };
}

SetDatatypesFn answerSetDatatypes(ItemCalls* calls, std::vector<HRESULT> errors, HRESULT result,
                                  bool arrays) {
  return [=](DWORD count, OPCHANDLE* handles, VARTYPE* types, HRESULT** out) {
    recordHandles(calls, count, handles);
    if (calls) calls->types.emplace_back(types, types + count);
    return answerHandles(count, out, errors, result, arrays);
  };
}

}  // namespace core_test
