#include <cstring>
#include <thread>

#include "opc/OPCDA.h"
#include "test_utils.h"

namespace opc::test {
namespace {

using ClipboardFormats = veze6::test::LeakCheckedTest;

using GlobalMemory = LeakCheckedTest;

TEST_F(GlobalMemory, BlockIsItsOwnHandleAndKeepsItsSize) {
  const auto before = diag::snapshot().globals;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(diag::snapshot().globals, before + 1);
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  EXPECT_EQ(p, h);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  std::memset(p, 0xAB, 100);
  EXPECT_EQ(GlobalLock(h), h);        // locked twice
  EXPECT_EQ(GlobalUnlock(h), TRUE);   // still locked once
  EXPECT_EQ(GlobalUnlock(h), FALSE);  // now unlocked
  EXPECT_EQ(GlobalUnlock(h), FALSE);  // not locked at all
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(diag::snapshot().globals, before);
}

TEST_F(GlobalMemory, NullHandles) {
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GlobalSize(nullptr), 0u);
  EXPECT_EQ(GlobalUnlock(nullptr), FALSE);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  GlobalFree(empty);
}

TEST_F(GlobalMemory, ReleaseStgMediumFreesTheBlock) {
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 32);
  ReleaseStgMedium(&medium);
  EXPECT_EQ(medium.tymed, TYMED_NULL);
  EXPECT_EQ(medium.hGlobal, nullptr);
  ReleaseStgMedium(nullptr);
}

TEST_F(GlobalMemory, ReleaseStgMediumLeavesContentsToTheReleaseObject) {
  const auto globals = diag::snapshot().globals;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 8);
  ComPtr<ShutdownSink> owner = makeCom<ShutdownSink>();
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = h;
  medium.pUnkForRelease = owner.get();
  owner->AddRef();  // the reference the medium hands over
  ReleaseStgMedium(&medium);
  EXPECT_EQ(owner->refCount(), 1u);
  EXPECT_EQ(medium.pUnkForRelease, nullptr);
  EXPECT_EQ(diag::snapshot().globals, globals + 1);  // still the owner's
  GlobalFree(h);
}

TEST_F(ClipboardFormats, SameNameSameIdWithoutRegardToCase) {
  const UINT a = RegisterClipboardFormat("Veze6.Test.Format.A");
  const UINT b = RegisterClipboardFormat("Veze6.Test.Format.B");
  EXPECT_GE(a, 0xC000u);
  EXPECT_GE(b, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterClipboardFormat("veze6.test.FORMAT.a"), a);
  EXPECT_EQ(RegisterClipboardFormat(""), 0u);
  EXPECT_EQ(RegisterClipboardFormat(nullptr), 0u);

  // The name as first registered, cut to the room given; unknown ids none.
  char name[32];
  EXPECT_EQ(GetClipboardFormatName(a, name, sizeof name), 19);
  EXPECT_STREQ(name, "Veze6.Test.Format.A");
  EXPECT_EQ(GetClipboardFormatName(b, name, 6), 5);
  EXPECT_STREQ(name, "Veze6");
  EXPECT_EQ(GetClipboardFormatName(0xBFFF, name, sizeof name), 0);
  EXPECT_EQ(GetClipboardFormatName(0xFFFF, name, sizeof name), 0);
  EXPECT_STREQ(name, "");
}

TEST_F(ClipboardFormats, OpcStreamFormatsAreRegisteredAtStartUp) {
  EXPECT_GE(OPCSTMFORMATDATA, 0xC000u);
  EXPECT_GE(OPCSTMFORMATDATATIME, 0xC000u);
  EXPECT_GE(OPCSTMFORMATWRITECOMPLETE, 0xC000u);
  EXPECT_NE(OPCSTMFORMATDATA, OPCSTMFORMATDATATIME);
  EXPECT_NE(OPCSTMFORMATDATATIME, OPCSTMFORMATWRITECOMPLETE);
  EXPECT_EQ(RegisterClipboardFormat("OPCSTMFORMATDATA"), OPCSTMFORMATDATA);
  EXPECT_EQ(RegisterClipboardFormat("opcstmformatdatatime"), OPCSTMFORMATDATATIME);
  EXPECT_EQ(RegisterClipboardFormat("OPCSTMFORMATWRITECOMPLETE"), OPCSTMFORMATWRITECOMPLETE);
}

TEST_F(ClipboardFormats, ConcurrentRegistrationAgrees) {
  std::vector<UINT> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    threads.emplace_back([&ids, i] {
      for (int k = 0; k < 50; ++k)
        RegisterClipboardFormat(("Veze6.Race." + std::to_string(k)).c_str());
      ids[i] = RegisterClipboardFormat("Veze6.Race.Shared");
    });
  }
  for (auto& t : threads) t.join();
  for (UINT id : ids) EXPECT_EQ(id, ids[0]);
}

}  // namespace
}  // namespace opc::test
