#include "servercommon.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "OPCCOMN.h"
#include "objidl.h"
#include "propertydescriptions.h"
#include "servererrors.h"
#include "taskmem.h"

namespace opc {

namespace {

bool validDeadband(FLOAT d) { return d >= 0.0f && d <= 100.0f; }  // false for NaN

template <class T>
TaskMem<T> taskArray(std::size_t n) {
  // One element at least: a block for no elements is still a block to free.
  return TaskMem<T>(static_cast<T*>(CoTaskMemAlloc(std::max<std::size_t>(n, 1) * sizeof(T))));
}

// Frees the task-memory strings handed out so far when a later one fails.
struct StringArrayGuard {
  LPWSTR* strings;
  std::size_t count = 0;
  bool armed = true;
  ~StringArrayGuard() {
    if (!armed) return;
    for (std::size_t i = 0; i < count; ++i) CoTaskMemFree(strings[i]);
  }
};

}  // namespace

bool isSupportedLocale(LCID lcid) { return lcid == 0 || lcid == 1033; }

LONG localTimeBias() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return static_cast<LONG>(-local.tm_gmtoff / 60);
}

// ---- ServerCommon ---------------------------------------------------------------

HRESULT ServerCommon::SetLocaleID(LCID dwLcid) {
  if (!isSupportedLocale(dwLcid)) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  locale_ = dwLcid;
  return S_OK;
}

HRESULT ServerCommon::GetLocaleID(LCID* pdwLcid) const {
  if (!pdwLcid) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  *pdwLcid = locale_;
  return S_OK;
}

HRESULT ServerCommon::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (pdwCount) *pdwCount = 0;
  if (pdwLcid) *pdwLcid = nullptr;
  if (!pdwCount || !pdwLcid) return E_INVALIDARG;
  constexpr LCID kLocales[] = {0, 1033};
  auto* out = static_cast<LCID*>(CoTaskMemAlloc(sizeof(kLocales)));
  if (!out) return E_OUTOFMEMORY;
  std::copy(std::begin(kLocales), std::end(kLocales), out);
  *pdwCount = static_cast<DWORD>(std::size(kLocales));
  *pdwLcid = out;
  return S_OK;
}

HRESULT ServerCommon::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  return serverErrorString(dwError, ppString);
}

HRESULT ServerCommon::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (!isSupportedLocale(dwLocale)) return E_INVALIDARG;
  return serverErrorString(dwError, ppString);
}

HRESULT ServerCommon::SetClientName(LPCWSTR szName) {
  if (!szName) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  clientName_.assign(szName, wideLength(szName));
  return S_OK;
}

LCID ServerCommon::locale() const {
  std::lock_guard lock(mutex_);
  return locale_;
}

std::u16string ServerCommon::clientName() const {
  std::lock_guard lock(mutex_);
  return clientName_;
}

// ---- ShutdownPoint --------------------------------------------------------------

ShutdownPoint::ShutdownPoint(IConnectionPointContainer* container)
    : point_(makeCom<ConnectionPoint>(container, IID_IOPCShutdown)) {}

HRESULT ShutdownPoint::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const {
  if (ppEnum) *ppEnum = nullptr;
  if (!ppEnum) return E_POINTER;
  *ppEnum = makeEnumConnectionPoints({ComPtr<IConnectionPoint>(point_.get())}).detach();
  return S_OK;
}

HRESULT ShutdownPoint::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const {
  if (ppCP) *ppCP = nullptr;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
  return ComPtr<IConnectionPoint>(point_.get()).copyTo(ppCP);
}

std::size_t ShutdownPoint::requestShutdown(std::u16string_view reason) const {
  const auto text = std::make_shared<const std::u16string>(reason);
  return point_->deliverToAll<IOPCShutdown>(
      [text](IOPCShutdown* sink) { sink->ShutdownRequest(text->c_str()); });
}

std::size_t ShutdownPoint::sinkCount() const { return point_->sinks().size(); }

void ShutdownPoint::detach() { point_->detach(); }

// ---- Groups -----------------------------------------------------------------------

HRESULT addGroupSettings(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                         OPCHANDLE hClientGroup, const LONG* pTimeBias,
                         const FLOAT* pPercentDeadband, DWORD dwLCID,
                         const OPCHANDLE* phServerGroup, const DWORD* pRevisedUpdateRate,
                         IUnknown** ppUnk, GroupSettings& settings) {
  if (ppUnk) *ppUnk = nullptr;
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
  if (pPercentDeadband && !validDeadband(*pPercentDeadband)) return E_INVALIDARG;
  settings = GroupSettings{};
  if (szName) settings.name.assign(szName, wideLength(szName));
  settings.active = bActive != FALSE;
  settings.requestedUpdateRate = dwRequestedUpdateRate;
  settings.clientHandle = hClientGroup;
  settings.timeBias = pTimeBias ? *pTimeBias : localTimeBias();
  settings.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
  settings.lcid = dwLCID;
  return S_OK;
}

HRESULT checkGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, IUnknown** ppUnk,
                             bool& privateGroups) {
  if (ppUnk) *ppUnk = nullptr;
  if (!ppUnk) return E_INVALIDARG;
  if (scope < OPC_ENUM_PRIVATE_CONNECTIONS || scope > OPC_ENUM_ALL) return E_INVALIDARG;
  if (riid != IID_IEnumUnknown && riid != IID_IEnumString) return E_NOINTERFACE;
  privateGroups = scope != OPC_ENUM_PUBLIC_CONNECTIONS && scope != OPC_ENUM_PUBLIC;
  return S_OK;
}

HRESULT makeGroupEnumerator(REFIID riid, std::vector<ComPtr<IUnknown>> groups,
                            std::vector<std::u16string> names, IUnknown** ppUnk) {
  const bool empty = groups.empty();
  if (riid == IID_IEnumUnknown) {
    *ppUnk = makeEnumUnknown(std::move(groups)).detach();
  } else {
    *ppUnk = makeEnumString(std::move(names)).detach();
  }
  if (!*ppUnk) return E_OUTOFMEMORY;
  // Nothing to enumerate still hands out an (empty) enumerator.
  return empty ? S_FALSE : S_OK;
}

// ---- Item properties -------------------------------------------------------------

HRESULT checkAvailablePropertiesRequest(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                        LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
  if (pdwCount) *pdwCount = 0;
  if (ppPropertyIDs) *ppPropertyIDs = nullptr;
  if (ppDescriptions) *ppDescriptions = nullptr;
  if (ppvtDataTypes) *ppvtDataTypes = nullptr;
  if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
  return S_OK;
}

HRESULT availablePropertiesAnswer(const std::vector<DWORD>& ids, const std::vector<VARTYPE>& types,
                                  DWORD* pdwCount, DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                  VARTYPE** ppvtDataTypes) {
  const std::size_t n = ids.size();
  auto idOut = taskArray<DWORD>(n);
  auto textOut = taskArray<LPWSTR>(n);
  auto typeOut = taskArray<VARTYPE>(n);
  if (!idOut || !textOut || !typeOut) return E_OUTOFMEMORY;
  StringArrayGuard texts{textOut.get()};
  for (std::size_t i = 0; i < n; ++i) {
    idOut.get()[i] = ids[i];
    typeOut.get()[i] = types[i];
    textOut.get()[i] = taskStringDup(propertyDescription(ids[i]));
    if (!textOut.get()[i]) return E_OUTOFMEMORY;
    texts.count = i + 1;
  }
  texts.armed = false;
  *pdwCount = static_cast<DWORD>(n);
  *ppPropertyIDs = idOut.release();
  *ppDescriptions = textOut.release();
  *ppvtDataTypes = typeOut.release();
  return S_OK;
}

HRESULT itemPropertiesAnswer(std::vector<OleVariant> values, const std::vector<HRESULT>& errors,
                             VARIANT** ppvData, HRESULT** ppErrors) {
  const std::size_t n = errors.size();
  auto out = taskArray<VARIANT>(n);
  auto codes = taskArray<HRESULT>(n);
  if (!out || !codes) return E_OUTOFMEMORY;
  bool allGood = true;
  for (std::size_t i = 0; i < n; ++i) {
    VariantInit(&out.get()[i]);
    if (SUCCEEDED(errors[i])) out.get()[i] = values[i].detach();
    codes.get()[i] = errors[i];
    allGood = allGood && errors[i] == S_OK;
  }
  *ppvData = out.release();
  *ppErrors = codes.release();
  return allGood ? S_OK : S_FALSE;
}

HRESULT lookupItemIdsAnswer(const std::vector<std::u16string>& itemIds, LPWSTR** ppszNewItemIDs,
                            HRESULT** ppErrors) {
  const std::size_t n = itemIds.size();
  auto ids = taskArray<LPWSTR>(n);
  auto errors = taskArray<HRESULT>(n);
  if (!ids || !errors) return E_OUTOFMEMORY;
  StringArrayGuard handedOut{ids.get()};
  bool allGood = true;
  for (std::size_t i = 0; i < n; ++i) {
    ids.get()[i] = nullptr;
    handedOut.count = i + 1;
    if (itemIds[i].empty()) {
      errors.get()[i] = OPC_E_INVALID_PID;
      allGood = false;
      continue;
    }
    ids.get()[i] = taskStringDup(itemIds[i]);
    if (!ids.get()[i]) return E_OUTOFMEMORY;
    errors.get()[i] = S_OK;
  }
  handedOut.armed = false;
  *ppszNewItemIDs = ids.release();
  *ppErrors = errors.release();
  return allGood ? S_OK : S_FALSE;
}

}  // namespace opc
