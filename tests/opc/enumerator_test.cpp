#include "opc/enumerator.h"

#include "test_utils.h"

namespace opc::test {
namespace {

using Enumerators = LeakCheckedTest;

std::vector<std::u16string> take(IEnumString* e, ULONG n, HRESULT expected) {
  std::vector<LPOLESTR> out(n, nullptr);
  ULONG fetched = 99;
  EXPECT_EQ(e->Next(n, out.data(), &fetched), expected);
  std::vector<std::u16string> texts;
  for (ULONG i = 0; i < fetched; ++i) {
    texts.push_back(str(out[i]));
    CoTaskMemFree(out[i]);
  }
  return texts;
}

TEST_F(Enumerators, StringsAreHandedOutAsTaskMemory) {
  ComPtr<IEnumString> e = makeEnumString({u"a", u"bb", u"ccc"});
  const auto tasks = diag::snapshot().taskAllocations;
  LPOLESTR one = nullptr;
  ASSERT_EQ(e->Next(1, &one, nullptr), S_OK);
  EXPECT_EQ(str(one), u"a");
  EXPECT_EQ(diag::snapshot().taskAllocations, tasks + 1);
  CoTaskMemFree(one);
  EXPECT_EQ(take(e.get(), 5, S_FALSE), (std::vector<std::u16string>{u"bb", u"ccc"}));
  EXPECT_TRUE(take(e.get(), 1, S_FALSE).empty());
  EXPECT_EQ(diag::snapshot().taskAllocations, tasks);
}

TEST_F(Enumerators, SkipResetAndClone) {
  ComPtr<IEnumString> e = makeEnumString({u"a", u"b", u"c", u"d"});
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumString> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  EXPECT_EQ(take(e.get(), 2, S_OK), (std::vector<std::u16string>{u"b", u"c"}));
  // The clone starts where the original stood and moves on its own.
  EXPECT_EQ(take(clone.get(), 1, S_OK), (std::vector<std::u16string>{u"b"}));
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_TRUE(take(e.get(), 1, S_FALSE).empty());
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(take(e.get(), 4, S_OK), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(take(clone.get(), 3, S_FALSE), (std::vector<std::u16string>{u"c", u"d"}));
  EXPECT_EQ(e->Clone(nullptr), E_POINTER);
}

TEST_F(Enumerators, EmptyListAndZeroRequest) {
  ComPtr<IEnumString> e = makeEnumString({});
  ULONG fetched = 7;
  EXPECT_EQ(e->Next(0, nullptr, &fetched), S_OK);
  EXPECT_EQ(fetched, 0u);
  EXPECT_TRUE(take(e.get(), 1, S_FALSE).empty());
  EXPECT_EQ(e->Skip(0), S_OK);
}

TEST_F(Enumerators, GuidsAndUnknowns) {
  ComPtr<IEnumGUID> g = makeEnumGUID({IID_IOPCServer, IID_IOPCCommon});
  GUID out[3]{};
  ULONG fetched = 0;
  EXPECT_EQ(g->Next(3, out, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(out[0], IID_IOPCServer);
  EXPECT_EQ(out[1], IID_IOPCCommon);

  ComPtr<ShutdownSink> sink = makeCom<ShutdownSink>();
  {
    ComPtr<IEnumUnknown> u = makeEnumUnknown({ComPtr<IUnknown>(sink->unknown())});
    EXPECT_EQ(sink->refCount(), 2u);
    IUnknown* got = nullptr;
    ASSERT_EQ(u->Next(1, &got, nullptr), S_OK);
    EXPECT_EQ(got, sink->unknown());
    EXPECT_EQ(sink->refCount(), 3u);  // handed out with a reference of its own
    got->Release();
  }
  EXPECT_EQ(sink->refCount(), 1u);
}

// A list of texts where "!" stands for an element whose copy runs out of
// memory.
struct FailingStringCopy {
  using Elem = LPOLESTR;
  static bool copy(const std::u16string& s, Elem* out) {
    *out = s == u"!" ? nullptr : taskStringDup(s);
    return *out != nullptr;
  }
  static void drop(Elem* p) {
    CoTaskMemFree(*p);
    *p = nullptr;
  }
};
// The same for an enumerator that allocates the caller's array.
struct FailingAttributesCopy {
  using Elem = OPCITEMATTRIBUTES;
  static bool copy(const std::u16string& s, Elem* out) {
    *out = OPCITEMATTRIBUTES{};
    return FailingStringCopy::copy(s, &out->szItemID);
  }
  static void drop(Elem* a) { FailingStringCopy::drop(&a->szItemID); }
};

TEST_F(Enumerators, BadArgumentsGetOneAnswer) {
  ComPtr<IEnumString> strings = makeEnumString({u"a", u"b"});
  ComPtr<IEnumOPCItemAttributes> attrs =
      makeEnumerator<IEnumOPCItemAttributes, FailingAttributesCopy>(
          std::vector<std::u16string>{u"a", u"b"});
  LPOLESTR names[2]{};
  OPCITEMATTRIBUTES* block = reinterpret_cast<OPCITEMATTRIBUTES*>(1);
  ULONG fetched = 9;
  EXPECT_EQ(strings->Next(2, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(attrs->Next(2, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(strings->Next(2, names, nullptr), E_INVALIDARG);
  EXPECT_EQ(attrs->Next(2, &block, nullptr), E_INVALIDARG);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(attrs->Next(0, &block, &fetched), S_OK);
  EXPECT_EQ(block, nullptr);  // nothing asked, nothing allocated
  EXPECT_EQ(strings->Clone(nullptr), E_POINTER);
  EXPECT_EQ(attrs->Clone(nullptr), E_POINTER);
  // None of the refusals moved either enumerator.
  EXPECT_EQ(take(strings.get(), 2, S_OK), (std::vector<std::u16string>{u"a", u"b"}));
  ASSERT_EQ(attrs->Next(3, &block, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(str(block[1].szItemID), u"b");
  for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(block[i].szItemID);
  CoTaskMemFree(block);
  EXPECT_EQ(attrs->Next(1, &block, &fetched), S_FALSE);
  EXPECT_EQ(block, nullptr);  // an exhausted list allocates nothing
}

TEST_F(Enumerators, OutOfMemoryRollsTheCallBack) {
  const std::vector<std::u16string> items{u"a", u"b", u"!", u"c"};
  ComPtr<IEnumString> strings = makeEnumerator<IEnumString, FailingStringCopy>(items);
  LPOLESTR out[3]{};
  ULONG fetched = 9;
  EXPECT_EQ(strings->Next(3, out, &fetched), E_OUTOFMEMORY);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(out[0], nullptr);  // the copies already made were taken back
  EXPECT_EQ(take(strings.get(), 2, S_OK), (std::vector<std::u16string>{u"a", u"b"}));

  ComPtr<IEnumOPCItemAttributes> attrs =
      makeEnumerator<IEnumOPCItemAttributes, FailingAttributesCopy>(items);
  OPCITEMATTRIBUTES* block = nullptr;
  EXPECT_EQ(attrs->Next(4, &block, &fetched), E_OUTOFMEMORY);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(fetched, 0u);
  ASSERT_EQ(attrs->Next(1, &block, &fetched), S_OK);  // still at the start
  EXPECT_EQ(str(block[0].szItemID), u"a");
  CoTaskMemFree(block[0].szItemID);
  CoTaskMemFree(block);
}

}  // namespace
}  // namespace opc::test
