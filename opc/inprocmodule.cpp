#include "inprocmodule.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "warnings.h"

namespace opc {

namespace {

class ClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit ClassFactory(std::function<HRESULT(REFIID, void**)> create)
      : create_(std::move(create)) {}

  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    const HRESULT hr = create_(riid, ppvObject);
    if (FAILED(hr)) *ppvObject = nullptr;
    return hr;
  }
  // Modules stay loaded for the whole process, so there is nothing to lock.
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  const std::function<HRESULT(REFIID, void**)> create_;
};

// Loaded modules by path, with their entry points. Never unloaded: objects of
// a module may live until the process ends.
std::mutex g_modulesMutex;
std::unordered_map<std::string, ModuleEntryPoint> g_modules;

// The module's entry point, loading the module if needed; on failure the
// result code and a warning. dlopen runs unlocked: a module's initialisers
// may create classes of other modules.
HRESULT entryPointOf(const std::string& path, ModuleEntryPoint* entry) {
  {
    std::lock_guard lock(g_modulesMutex);
    if (const auto it = g_modules.find(path); it != g_modules.end()) {
      *entry = it->second;
      return S_OK;
    }
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    warn("server module " + path + " not found");
    return CO_E_DLLNOTFOUND;
  }
  // Loading the same file twice gives the same handle, so racing first
  // creations agree.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    warn("server module " + path + " cannot be loaded: " + (why ? why : "unknown error"));
    return CO_E_ERRORINDLL;
  }
  void* symbol = dlsym(handle, kModuleEntryPointName);
  if (!symbol) {
    // Left loaded: its initialisers have run and may have handed out code.
    warn("server module " + path + " lacks the entry point " + kModuleEntryPointName);
    return CO_E_ERRORINDLL;
  }
  *entry = reinterpret_cast<ModuleEntryPoint>(symbol);
  std::lock_guard lock(g_modulesMutex);
  g_modules.emplace(path, *entry);
  return S_OK;
}

}  // namespace

ComPtr<IClassFactory> makeClassFactory(std::function<HRESULT(REFIID riid, void** ppv)> create) {
  return makeCom<ClassFactory>(std::move(create));
}

HRESULT createFromModule(const std::string& path, REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ModuleEntryPoint entry = nullptr;
  if (const HRESULT hr = entryPointOf(path, &entry); FAILED(hr)) return hr;

  // The module's code runs without any lock held: it may create classes too.
  ComPtr<IClassFactory> factory;
  const HRESULT got = entry(clsid, IID_IClassFactory, factory.putVoid());
  if (FAILED(got)) return got;
  if (!factory) {
    warn("server module " + path + " handed out no class factory");
    return CO_E_ERRORINDLL;
  }
  const HRESULT hr = factory->CreateInstance(nullptr, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

bool isModuleLoaded(const std::string& path) {
  std::lock_guard lock(g_modulesMutex);
  return g_modules.count(path) != 0;
}

}  // namespace opc
