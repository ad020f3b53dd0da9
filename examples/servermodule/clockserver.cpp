// The example clock server: an OPC DA server object that answers its status
// (running, the current time, its vendor text) and the common calls, and
// refuses groups. It shows what a module needs: a COM-style object built
// from opc::ComObject, a class factory and the entry point the platform
// layer looks up when a client creates the class.
#include <chrono>
#include <cstring>
#include <string_view>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/filetime.h"
#include "opc/inprocmodule.h"
#include "opc/taskmem.h"
#include "opc/unknown.h"

namespace {

// {5B3C8F0E-7A41-4D2B-9C65-1E0F4A7B2D93}, as in the registration file.
constexpr CLSID CLSID_ExampleClock{
    0x5B3C8F0E, 0x7A41, 0x4D2B, {0x9C, 0x65, 0x1E, 0x0F, 0x4A, 0x7B, 0x2D, 0x93}};

// A copy of text in task memory, which the caller frees.
LPWSTR taskString(std::u16string_view text) {
  auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.data(), text.size() * sizeof(OLECHAR));
  out[text.size()] = 0;
  return out;
}

class ClockServer : public opc::ComObject<IOPCServer, IOPCCommon> {
 public:
  // IOPCServer
  HRESULT AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*,
                   REFIID, IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetErrorString(HRESULT, LCID, LPWSTR* text) override {
    return GetErrorString(E_NOTIMPL, text);
  }
  HRESULT GetGroupByName(LPCWSTR, REFIID, IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_INVALIDARG;
  }
  HRESULT GetStatus(OPCSERVERSTATUS** status) override {
    if (!status) return E_POINTER;
    auto* s = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    if (!s) return E_OUTOFMEMORY;
    *s = OPCSERVERSTATUS{};
    s->ftStartTime = started_;
    s->ftCurrentTime = opc::fileTimeNow();
    s->ftLastUpdateTime = s->ftCurrentTime;
    s->dwServerState = OPC_STATUS_RUNNING;
    s->wMajorVersion = 1;
    s->szVendorInfo = taskString(u"veze6 example clock server");
    *status = s;
    return S_OK;
  }
  HRESULT RemoveGroup(OPCHANDLE, BOOL) override { return E_FAIL; }
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE, REFIID, IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }

  // IOPCCommon
  HRESULT SetLocaleID(LCID) override { return S_OK; }
  HRESULT GetLocaleID(LCID* lcid) override {
    if (!lcid) return E_POINTER;
    *lcid = 0;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) override {
    if (!count || !lcids) return E_POINTER;
    *count = 0;
    *lcids = nullptr;
    return S_OK;
  }
  HRESULT GetErrorString(HRESULT, LPWSTR* text) override {
    if (!text) return E_POINTER;
    *text = taskString(u"The example clock server knows no error texts.");
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT SetClientName(LPCWSTR) override { return S_OK; }

 private:
  FILETIME started_ = opc::fileTimeNow();
};

}  // namespace

extern "C" VEZE6_MODULE_EXPORT HRESULT Veze6GetClassObject(REFCLSID rclsid, REFIID riid,
                                                           void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_ExampleClock) return CLASS_E_CLASSNOTAVAILABLE;
  const ComPtr<IClassFactory> factory = opc::makeClassFactory(
      [](REFIID iid, void** out) { return opc::makeCom<ClockServer>()->QueryInterface(iid, out); });
  return factory->QueryInterface(riid, ppv);
}
