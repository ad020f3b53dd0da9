// Shared helpers of the platform layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/leakcheck.h"
#include "common/pump.h"
#include "common/sinks.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"

namespace opc::test {

using veze6::test::LeakCheck;
using veze6::test::LeakCheckedTest;
using veze6::test::pumpUntil;
using veze6::test::ShutdownSink;

/// An object answering IOPCCommon and IOPCShutdown only.
class CommonObject final : public ComObject<IOPCCommon, IOPCShutdown> {
 public:
  HRESULT SetLocaleID(LCID) override { return S_OK; }
  HRESULT GetLocaleID(LCID* p) override {
    if (!p) return E_INVALIDARG;
    *p = 0;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
  HRESULT GetErrorString(HRESULT, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT SetClientName(LPCWSTR) override { return S_OK; }
  HRESULT ShutdownRequest(LPCWSTR) override { return S_OK; }
};

inline std::u16string str(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

}  // namespace opc::test
