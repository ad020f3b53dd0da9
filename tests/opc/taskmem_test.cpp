#include <cstring>

#include "test_utils.h"

namespace opc::test {
namespace {

using Utf = veze6::test::LeakCheckedTest;

using TaskMemory = LeakCheckedTest;

TEST_F(TaskMemory, AllocationsAreCountedUntilFreed) {
  const auto before = diag::snapshot().taskAllocations;
  void* a = CoTaskMemAlloc(16);
  void* b = CoTaskMemAlloc(0);  // still a block of its own
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(diag::snapshot().taskAllocations, before + 2);
  a = CoTaskMemRealloc(a, 4096);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(diag::snapshot().taskAllocations, before + 2);
  CoTaskMemFree(a);
  CoTaskMemFree(b);
  CoTaskMemFree(nullptr);  // no-op, must not disturb the count
  EXPECT_EQ(diag::snapshot().taskAllocations, before);
}

TEST_F(TaskMemory, ReallocOfNullAllocatesAndToZeroFrees) {
  const auto before = diag::snapshot().taskAllocations;
  void* p = CoTaskMemRealloc(nullptr, 8);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(diag::snapshot().taskAllocations, before + 1);
  EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);
  EXPECT_EQ(diag::snapshot().taskAllocations, before);
}

TEST_F(TaskMemory, TaskOutFreesWhatTheCallReturned) {
  const auto before = diag::snapshot().taskAllocations;
  {
    TaskString s;
    *s.put() = taskStringDup(u"abc");
    EXPECT_EQ(str(s.get()), u"abc");
    *s.put() = taskStringDup(u"second");  // put() frees the first block
    EXPECT_EQ(diag::snapshot().taskAllocations, before + 1);
  }
  EXPECT_EQ(diag::snapshot().taskAllocations, before);
}

TEST_F(TaskMemory, TaskStringDupIsTerminatedAndKeepsEmbeddedText) {
  TaskMem<OLECHAR> empty(taskStringDup(u""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty.get()[0], 0);
  TaskMem<OLECHAR> s(taskStringDup(std::u16string_view(u"ab\0cd", 5)));
  EXPECT_EQ(std::memcmp(s.get(), u"ab\0cd", 6 * sizeof(OLECHAR)), 0);
}

using Bstrs = LeakCheckedTest;

TEST_F(Bstrs, LengthPrefixedAndTerminated) {
  BSTR b = SysAllocString(u"hello");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(b[5], 0);
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(bytes, 10u);
  SysFreeString(b);
}

TEST_F(Bstrs, EmbeddedZerosCountInTheLength) {
  BSTR b = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[2], u'b');
  EXPECT_EQ(b[3], 0);
  SysFreeString(b);
}

TEST_F(Bstrs, NullSourceGivesZeroedCharacters) {
  BSTR b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], 0);
  SysFreeString(b);
}

TEST_F(Bstrs, NullHandling) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  const auto before = diag::snapshot().bstrs;
  SysFreeString(nullptr);
  EXPECT_EQ(diag::snapshot().bstrs, before);
}

TEST_F(Bstrs, CountedUntilFreedAndGuardReleases) {
  const auto before = diag::snapshot().bstrs;
  {
    Bstr a(u"one");
    Bstr b = a;  // a copy is a string of its own
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(b.view(), u"one");
    EXPECT_EQ(diag::snapshot().bstrs, before + 2);
    *b.put() = SysAllocString(u"two");
    EXPECT_EQ(diag::snapshot().bstrs, before + 2);
    BSTR raw = a.detach();
    EXPECT_EQ(diag::snapshot().bstrs, before + 2);
    SysFreeString(raw);
  }
  EXPECT_EQ(diag::snapshot().bstrs, before);
}

TEST_F(Utf, RoundTripsAllPlanes) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string wide = utf8ToUtf16(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600z");
  EXPECT_EQ(utf16ToUtf8(wide), text);
}

TEST_F(Utf, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8ToUtf16("\xC3"), u"\uFFFD");  // truncated at the end
  EXPECT_EQ(utf8ToUtf16("\xE2\x82"
                        "x"),
            u"\uFFFDx");                                          // truncated before a character
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
}

TEST_F(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(utf16ToUtf8(u"x" + std::u16string(1, char16_t(0xDC00))), "x\xEF\xBF\xBD");
}

}  // namespace
}  // namespace opc::test
