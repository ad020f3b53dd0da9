// The per-process class registry (the stand-in for the system registry's
// class keys) and object creation: CLSIDs, ProgIDs, user-type texts,
// component categories and the "OPC" marker, each class with a factory.
// Classes come from code (registerClass) and from registration files naming
// in-process server modules (see registrationfiles.h), read on first lookup.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "activation.h"
#include "classentry.h"
#include "guid.h"
#include "objidl.h"
#include "opcexport.h"

/// Looks a ProgID up in the class registry; CO_E_CLASSSTRING when unknown.
VEZE6_OPC_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid);
VEZE6_OPC_EXPORT HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);  // task memory

VEZE6_OPC_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                          REFIID riid, void** ppv);
/// With a server info naming another computer ("name" or "name:port", see
/// opc/remote/host.h for the default port) the object is made there by its
/// host daemon and the results are proxies; a computer that cannot be
/// reached fails with HRESULT_RPC_S_SERVER_UNAVAILABLE.
VEZE6_OPC_EXPORT HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                            COSERVERINFO* pServerInfo, DWORD dwCount,
                                            MULTI_QI* pResults);

// Security initialisation: succeeds once per process, then RPC_E_TOO_LATE.
inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD EOAC_NONE = 0;
VEZE6_OPC_EXPORT HRESULT CoInitializeSecurity(void* pSecDesc, LONG cAuthSvc, void* asAuthSvc,
                                              void* pReserved1, DWORD dwAuthnLevel,
                                              DWORD dwImpLevel, void* pAuthList,
                                              DWORD dwCapabilities, void* pReserved3);

namespace opc {

/// The process's class registry. Thread-safe.
///
/// Classes registered by code take precedence over registration files: a
/// file entry for a class id (or ProgID) that code registered is hidden. The
/// OPC server list object (CLSID_OPCServerList) is registered from the start.
class VEZE6_OPC_EXPORT ClassRegistry {
 public:
  static ClassRegistry& instance();

  /// Adds or replaces the entry for entry.clsid.
  void registerClass(ClassEntry entry);
  void unregisterClass(REFCLSID clsid);

  std::optional<ClassEntry> find(REFCLSID clsid) const;
  /// ProgIDs compare without regard to case, as the system registry does.
  /// Among registration files the last one read wins (user over system).
  std::optional<CLSID> findProgId(std::u16string_view progId) const;
  /// Every entry: code registrations in registration order, then the file
  /// entries in the order the files were read.
  std::vector<ClassEntry> entries() const;
  /// Entries implementing any of the categories, in the order of entries().
  std::vector<ClassEntry> entriesOfCategories(const std::vector<CATID>& categories) const;

  /// Reads the registration files again now, replacing the entries read
  /// before (code registrations stay). Lookups read them once by themselves;
  /// this is for hosts and tests whose files or environment changed.
  void reloadRegistrationFiles();

 private:
  ClassRegistry();
  /// Reads the files unless read already; warnings go out unlocked.
  void loadFilesIfNeeded() const;
  /// Calls f for every visible entry (code first, then unhidden file entries).
  template <class F>
  void forEachLocked(F&& f) const;
  bool registeredByCodeLocked(REFCLSID clsid) const;

  mutable std::mutex mutex_;
  std::vector<ClassEntry> entries_;              ///< registered by code
  mutable std::vector<ClassEntry> fileEntries_;  ///< read from registration files
  mutable bool filesLoaded_ = false;
};

namespace detail {
/// Tests only: lets the next CoInitializeSecurity succeed again.
VEZE6_OPC_EXPORT void resetSecurityInitialization();
}  // namespace detail

}  // namespace opc
