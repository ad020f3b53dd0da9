// What every server object answers alike, whatever stands behind its items:
// the locales and the client's name (IOPCCommon), the shutdown connection
// point, a new group's arguments, the group enumerator, and the arrays of
// the item property calls.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "OPCDA.h"
#include "connectionpoint.h"
#include "opcexport.h"
#include "variant.h"

namespace opc {

/// The locales a server speaks: 0 (the default, English) and 1033.
VEZE6_OPC_EXPORT bool isSupportedLocale(LCID lcid);

/// The local time zone's bias in minutes (UTC = local time + bias).
VEZE6_OPC_EXPORT LONG localTimeBias();

/// IOPCCommon's state and answers. Thread-safe.
class VEZE6_OPC_EXPORT ServerCommon {
 public:
  HRESULT SetLocaleID(LCID dwLcid);
  HRESULT GetLocaleID(LCID* pdwLcid) const;
  static HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid);
  /// Both locales read English.
  static HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString);
  /// IOPCServer's, with a locale to check.
  static HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString);
  HRESULT SetClientName(LPCWSTR szName);

  LCID locale() const;
  std::u16string clientName() const;

 private:
  mutable std::mutex mutex_;
  LCID locale_ = 0;
  std::u16string clientName_;
};

/// The one connection point of a server object, IOPCShutdown, and the
/// container's answers. Sinks are called on their own apartments.
class VEZE6_OPC_EXPORT ShutdownPoint {
 public:
  explicit ShutdownPoint(IConnectionPointContainer* container);

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const;

  /// ShutdownRequest to every sink; how many there were.
  std::size_t requestShutdown(std::u16string_view reason) const;
  std::size_t sinkCount() const;
  /// The container is going: the point, which a client may hold on to, lets
  /// go of it and of the sinks.
  void detach();

 private:
  ComPtr<ConnectionPoint> point_;
};

/// What a new group starts with.
struct GroupSettings {
  std::u16string name;  ///< empty: the server invents one
  bool active = true;
  DWORD requestedUpdateRate = 0;
  OPCHANDLE clientHandle = 0;
  LONG timeBias = 0;
  FLOAT percentDeadband = 0.0f;
  LCID lcid = 0;
};

/// AddGroup's arguments as settings: E_INVALIDARG for a missing out-pointer
/// or a deadband outside 0..100; without a time bias the group takes the
/// server machine's own.
VEZE6_OPC_EXPORT HRESULT addGroupSettings(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                          OPCHANDLE hClientGroup, const LONG* pTimeBias,
                                          const FLOAT* pPercentDeadband, DWORD dwLCID,
                                          const OPCHANDLE* phServerGroup,
                                          const DWORD* pRevisedUpdateRate, IUnknown** ppUnk,
                                          GroupSettings& settings);

/// CreateGroupEnumerator's checks: E_INVALIDARG, E_NOINTERFACE. Every group
/// is private, so `privateGroups` is false for the public scopes.
VEZE6_OPC_EXPORT HRESULT checkGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, IUnknown** ppUnk,
                                              bool& privateGroups);
/// Its enumerator (IEnumUnknown or IEnumString) over the groups found:
/// S_FALSE, and still an enumerator, when there are none.
VEZE6_OPC_EXPORT HRESULT makeGroupEnumerator(REFIID riid, std::vector<ComPtr<IUnknown>> groups,
                                             std::vector<std::u16string> names, IUnknown** ppUnk);

/// More properties than any item has; bounds the arrays a caller can make a
/// server allocate.
inline constexpr DWORD kMaxPropertyRequest = 65536;

/// QueryAvailableProperties' checks: the outputs nulled, E_INVALIDARG for a
/// missing pointer.
VEZE6_OPC_EXPORT HRESULT checkAvailablePropertiesRequest(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                         LPWSTR** ppDescriptions,
                                                         VARTYPE** ppvtDataTypes);
/// GetItemProperties' and LookupItemIDs' checks of the request: the outputs
/// nulled, E_INVALIDARG for a missing pointer or a count of 0 or above
/// kMaxPropertyRequest.
template <class Out>
HRESULT checkPropertyRequest(DWORD dwCount, const DWORD* pdwPropertyIDs, Out** ppOut,
                             HRESULT** ppErrors) {
  if (ppOut) *ppOut = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (!ppOut || !ppErrors || !pdwPropertyIDs) return E_INVALIDARG;
  if (dwCount == 0 || dwCount > kMaxPropertyRequest) return E_INVALIDARG;
  return S_OK;
}

/// QueryAvailableProperties' arrays for the ids and types found, with the
/// standard descriptions. Nothing is handed out on failure.
VEZE6_OPC_EXPORT HRESULT availablePropertiesAnswer(const std::vector<DWORD>& ids,
                                                   const std::vector<VARTYPE>& types,
                                                   DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                   LPWSTR** ppDescriptions,
                                                   VARTYPE** ppvtDataTypes);
/// GetItemProperties' arrays: the values where the error is a success; S_OK
/// when every error is S_OK, else S_FALSE.
VEZE6_OPC_EXPORT HRESULT itemPropertiesAnswer(std::vector<OleVariant> values,
                                              const std::vector<HRESULT>& errors, VARIANT** ppvData,
                                              HRESULT** ppErrors);
/// LookupItemIDs' arrays: an empty id is OPC_E_INVALID_PID (S_FALSE).
VEZE6_OPC_EXPORT HRESULT lookupItemIdsAnswer(const std::vector<std::u16string>& itemIds,
                                             LPWSTR** ppszNewItemIDs, HRESULT** ppErrors);

}  // namespace opc
