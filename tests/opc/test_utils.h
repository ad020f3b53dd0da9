// Shared helpers of the platform layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"

namespace opc::test {

/// Fails the test when task memory, BSTRs, global blocks, safe arrays or
/// objects are left over at its end.
class LeakCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = diag::snapshot(); }
  void TearDown() override {
    const diag::Counters end = diag::snapshot();
    EXPECT_EQ(end.taskAllocations, start_.taskAllocations) << "task memory leaked";
    EXPECT_EQ(end.bstrs, start_.bstrs) << "BSTR leaked";
    EXPECT_EQ(end.globals, start_.globals) << "global block leaked";
    EXPECT_EQ(end.safeArrays, start_.safeArrays) << "safe array leaked";
    EXPECT_EQ(end.objects, start_.objects) << "object leaked";
  }

 private:
  diag::Counters start_{};
};

/// A sink for IOPCShutdown that records what it was told.
class ShutdownSink final : public ComObject<IOPCShutdown> {
 public:
  HRESULT ShutdownRequest(LPCWSTR szReason) override {
    reasons.emplace_back(szReason ? szReason : u"");
    return S_OK;
  }
  std::vector<std::u16string> reasons;
};

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
