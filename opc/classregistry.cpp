#include "classregistry.h"

#include <algorithm>
#include <atomic>
#include <string>

#if __has_include(<unistd.h>)
#include <unistd.h>
#endif

#include "endpointclasses.h"
#include "inprocmodule.h"
#include "registrationfiles.h"
#include "remote/createremoteinstance_p.h"
#include "serverlist.h"
#include "taskmem.h"

namespace opc {

namespace {

// Case folding for name comparisons: ASCII and the Latin-1 letters, which is
// what class names and computer names use.
char16_t foldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + (u'a' - u'A');
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  return c;
}

bool equalNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return foldCase(x) == foldCase(y); });
}

/// The registry entry for a class of a registration file; its factory loads
/// the module, or reaches the endpoint, on first use.
ClassEntry toClassEntry(const RegisteredClass& registered) {
  ClassEntry e;
  e.clsid = registered.clsid;
  e.progId = registered.progId;
  e.userType = registered.userType;
  e.categories = registered.categories;
  e.opcMarker = registered.opcMarker;
  if (!registered.endpoint.url.empty()) {
    e.create = [settings = registered.endpoint](REFIID riid, void** ppv) {
      return createEndpointObject(settings, riid, ppv);
    };
  } else if (!registered.module.empty()) {
    e.create = [module = registered.module.string(), clsid = registered.clsid](
                   REFIID riid, void** ppv) { return createFromModule(module, clsid, riid, ppv); };
  }
  return e;
}

}  // namespace

ClassRegistry& ClassRegistry::instance() {
  static ClassRegistry registry;
  return registry;
}

ClassRegistry::ClassRegistry() {
  // The registry lives as long as the process: the server list may read it
  // through `this`.
  entries_.push_back(detail::serverListClassEntry({
      [this] { return entries(); },
      [this](REFCLSID clsid) { return find(clsid); },
      [](LPCOLESTR progId, CLSID* clsid) { return ::CLSIDFromProgID(progId, clsid); },
  }));
}

void ClassRegistry::loadFilesIfNeeded() const {
  std::vector<std::string> warnings;
  {
    std::lock_guard lock(mutex_);
    if (filesLoaded_) return;
    filesLoaded_ = true;
    fileEntries_.clear();
    for (const auto& c : readRegistrationFiles(warnings)) fileEntries_.push_back(toClassEntry(c));
  }
  // Outside the lock: a handler may look classes up itself.
  for (const auto& w : warnings) warn(w);
}

void ClassRegistry::reloadRegistrationFiles() {
  {
    std::lock_guard lock(mutex_);
    filesLoaded_ = false;
  }
  loadFilesIfNeeded();
}

bool ClassRegistry::registeredByCodeLocked(REFCLSID clsid) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const ClassEntry& e) { return e.clsid == clsid; });
}

template <class F>
void ClassRegistry::forEachLocked(F&& f) const {
  for (const auto& e : entries_) f(e);
  for (const auto& e : fileEntries_) {
    if (!registeredByCodeLocked(e.clsid)) f(e);
  }
}

void ClassRegistry::registerClass(ClassEntry entry) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const ClassEntry& e) { return e.clsid == entry.clsid; });
  if (it != entries_.end()) {
    *it = std::move(entry);
  } else {
    entries_.push_back(std::move(entry));
  }
}

void ClassRegistry::unregisterClass(REFCLSID clsid) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const ClassEntry& e) { return e.clsid == clsid; });
}

std::optional<ClassEntry> ClassRegistry::find(REFCLSID clsid) const {
  loadFilesIfNeeded();
  std::lock_guard lock(mutex_);
  for (const auto& e : entries_) {
    if (e.clsid == clsid) return e;
  }
  for (const auto& e : fileEntries_) {
    if (e.clsid == clsid) return e;
  }
  return std::nullopt;
}

std::optional<CLSID> ClassRegistry::findProgId(std::u16string_view progId) const {
  if (progId.empty()) return std::nullopt;
  loadFilesIfNeeded();
  std::lock_guard lock(mutex_);
  for (const auto& e : entries_) {
    if (equalNoCase(e.progId, progId)) return e.clsid;
  }
  // Files read later (the user's) override earlier ones (the system's).
  for (auto it = fileEntries_.rbegin(); it != fileEntries_.rend(); ++it) {
    if (equalNoCase(it->progId, progId) && !registeredByCodeLocked(it->clsid)) return it->clsid;
  }
  return std::nullopt;
}

std::vector<ClassEntry> ClassRegistry::entries() const {
  loadFilesIfNeeded();
  std::lock_guard lock(mutex_);
  std::vector<ClassEntry> out;
  forEachLocked([&](const ClassEntry& e) { out.push_back(e); });
  return out;
}

std::vector<ClassEntry> ClassRegistry::entriesOfCategories(
    const std::vector<CATID>& categories) const {
  loadFilesIfNeeded();
  std::lock_guard lock(mutex_);
  std::vector<ClassEntry> out;
  forEachLocked([&](const ClassEntry& e) {
    const bool match = std::any_of(e.categories.begin(), e.categories.end(), [&](const CATID& c) {
      return std::find(categories.begin(), categories.end(), c) != categories.end();
    });
    if (match) out.push_back(e);
  });
  return out;
}

namespace {

std::atomic<bool> g_securityInitialized{false};

// Creates the object of a registered class, asking for riid. The factory runs
// outside the registry's lock so that it may itself use the registry.
HRESULT createLocal(REFCLSID rclsid, IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  const auto entry = ClassRegistry::instance().find(rclsid);
  if (!entry) return REGDB_E_CLASSNOTREG;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  // A class listed without a way to make it (no loadable server behind it).
  if (!entry->create) return CO_E_SERVER_EXEC_FAILURE;
  const HRESULT hr = entry->create(riid, ppv);
  if (FAILED(hr)) {
    *ppv = nullptr;
  } else if (!*ppv) {
    return E_UNEXPECTED;  // a factory that claims success must hand out an object
  }
  return hr;
}

std::u16string trimmed(std::u16string_view s) {
  const auto blank = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
  };
  std::size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::u16string(s.substr(b, e - b));
}

std::u16string hostName() {
#if __has_include(<unistd.h>)
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) == 0) return utf8ToUtf16(buf);
#endif
  return {};
}

// True when the server info names this machine (or nothing at all).
bool isLocalComputer(const COSERVERINFO* info) {
  if (!info || !info->pwszName) return true;
  const std::u16string name = trimmed(info->pwszName);
  if (name.empty() || equalNoCase(name, u"localhost") || name == u"127.0.0.1" || name == u"::1") {
    return true;
  }
  const std::u16string host = hostName();
  return !host.empty() && equalNoCase(name, host);
}

}  // namespace

namespace detail {
void resetSecurityInitialization() { g_securityInitialized.store(false); }
}  // namespace detail

}  // namespace opc

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* pclsid) {
  if (!lpszProgID || !pclsid) return E_INVALIDARG;
  *pclsid = GUID_NULL;
  const std::u16string_view name(lpszProgID);
  if (name.empty()) return CO_E_CLASSSTRING;
  const auto clsid = opc::ClassRegistry::instance().findProgId(name);
  if (!clsid) return CO_E_CLASSSTRING;
  *pclsid = *clsid;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (!lplpszProgID) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  const auto entry = opc::ClassRegistry::instance().find(clsid);
  if (!entry || entry->progId.empty()) return REGDB_E_CLASSNOTREG;
  *lplpszProgID = opc::taskStringDup(entry->progId);
  return *lplpszProgID ? S_OK : E_OUTOFMEMORY;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD /*dwClsContext*/, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return opc::createLocal(rclsid, pUnkOuter, riid, ppv);
}

HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD /*dwClsCtx*/,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
  if (dwCount == 0 || !pResults) return E_INVALIDARG;
  for (DWORD i = 0; i < dwCount; ++i) {
    if (!pResults[i].pIID) return E_INVALIDARG;
  }
  const auto failAll = [&](HRESULT hr) {
    for (DWORD i = 0; i < dwCount; ++i) {
      pResults[i].pItf = nullptr;
      pResults[i].hr = hr;
    }
    return hr;
  };
  // Another computer: its host daemon makes the object and hands out proxies.
  if (!opc::isLocalComputer(pServerInfo)) {
    if (punkOuter) return failAll(CLASS_E_NOAGGREGATION);
    return opc::remote::createRemoteInstance(rclsid, opc::trimmed(pServerInfo->pwszName), dwCount,
                                             pResults);
  }

  IUnknown* unk = nullptr;
  const HRESULT hr =
      opc::createLocal(rclsid, punkOuter, IID_IUnknown, reinterpret_cast<void**>(&unk));
  if (FAILED(hr)) return failAll(hr);

  DWORD found = 0;
  for (DWORD i = 0; i < dwCount; ++i) {
    void* itf = nullptr;
    pResults[i].hr = unk->QueryInterface(*pResults[i].pIID, &itf);
    if (SUCCEEDED(pResults[i].hr) && itf) {
      pResults[i].pItf = static_cast<IUnknown*>(itf);
      ++found;
    } else {
      pResults[i].pItf = nullptr;
      if (SUCCEEDED(pResults[i].hr)) pResults[i].hr = E_NOINTERFACE;
    }
  }
  unk->Release();
  if (found == dwCount) return S_OK;
  return found ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  return opc::g_securityInitialized.exchange(true) ? RPC_E_TOO_LATE : S_OK;
}
