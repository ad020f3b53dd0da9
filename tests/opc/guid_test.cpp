#include <memory>
#include <utility>

#include "test_utils.h"

namespace opc::test {
namespace {

constexpr GUID kSample{
    0x1234ABCD, 0x0F1E, 0xA5B6, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
constexpr char16_t kSampleText[] = u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF}";

using Guids = LeakCheckedTest;

TEST_F(Guids, TextsReadInAnyCaseAndWrittenInUpperCase) {
  const std::pair<const char16_t*, GUID> texts[] = {
      {kSampleText, kSample},
      {u"{1234abcd-0f1e-a5b6-0123-456789abcdef}", kSample},
      {u"{1234AbCd-0f1E-a5B6-0123-456789aBcDeF}", kSample},
      // Identifiers servers are known by.
      {u"{39C13A4D-011E-11D0-9675-0020AFD8ADB3}", IID_IOPCServer},
      {u"{13486D51-4821-11D2-A494-3CB306C10000}", CLSID_OPCServerList},
  };
  for (const auto& [text, guid] : texts) {
    CLSID read{};
    ASSERT_EQ(CLSIDFromString(text, &read), S_OK) << utf16ToUtf8(text);
    EXPECT_EQ(read, guid) << utf16ToUtf8(text);
    TaskString written;
    ASSERT_EQ(StringFromCLSID(read, written.put()), S_OK);
    std::u16string upper(text);
    for (char16_t& c : upper) c = (c >= u'a' && c <= u'f') ? char16_t(c - u'a' + u'A') : c;
    EXPECT_EQ(str(written.get()), upper);
  }
}

TEST_F(Guids, MalformedTextsAreRejected) {
  const char16_t* bad[] = {
      u"",
      u"{",
      u"{}",
      u"1234ABCD-0F1E-A5B6-0123-456789ABCDEF",     // no braces
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF",    // no closing brace
      u"1234ABCD-0F1E-A5B6-0123-456789ABCDEF}",    // no opening brace
      u"(1234ABCD-0F1E-A5B6-0123-456789ABCDEF)",   // wrong brackets
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF}x",  // trailing text
      u" {1234ABCD-0F1E-A5B6-0123-456789ABCDEF}",  // leading blank
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF} ",  // trailing blank
      u"{1234ABCG-0F1E-A5B6-0123-456789ABCDEF}",   // bad hex digit
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDE}",    // one digit short
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF0}",  // one digit too many
      u"{1234ABCD0F1E-A5B6-0123-456789ABCDEF0}",   // dash missing
      u"{1234ABCD-0F1E-A5B6-0123+456789ABCDEF}",   // wrong separator
      u"{1234ABC-D0F1E-A5B6-0123-456789ABCDEF}",   // dash misplaced
      u"{+234ABCD-0F1E-A5B6-0123-456789ABCDEF}",   // sign instead of digit
      u"{1234ABCD-0F1E-A5B6-0123-456789ABCDEF}}",
      u"Veze6.Unknown",
  };
  for (const char16_t* text : bad) {
    CLSID g = kSample;
    EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING) << utf16ToUtf8(text);
    EXPECT_EQ(g, GUID_NULL) << utf16ToUtf8(text);
  }
  CLSID g{};
  EXPECT_EQ(CLSIDFromString(nullptr, &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(kSampleText, nullptr), E_INVALIDARG);
}

TEST_F(Guids, ShortTextsAreNotReadPastTheirEnd) {
  // Each prefix lives in a block of exactly its own size, so an address
  // sanitizer build reports any read beyond the terminator.
  const std::u16string full = kSampleText;
  for (std::size_t n = 0; n < full.size(); ++n) {
    auto block = std::make_unique<char16_t[]>(n + 1);
    full.copy(block.get(), n);
    block[n] = 0;
    CLSID g{};
    EXPECT_EQ(CLSIDFromString(block.get(), &g), CO_E_CLASSSTRING) << n;
  }
}

TEST_F(Guids, StringFromGuid2NeedsRoomForTheTerminator) {
  OLECHAR buf[39];
  EXPECT_EQ(StringFromGUID2(kSample, buf, 38), 0);
  EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
  EXPECT_EQ(StringFromGUID2(kSample, buf, 39), 39);
  EXPECT_EQ(str(buf), kSampleText);
}

TEST_F(Guids, ArgumentChecks) {
  EXPECT_EQ(StringFromCLSID(kSample, nullptr), E_INVALIDARG);
  EXPECT_EQ(ProgIDFromCLSID(kSample, nullptr), E_INVALIDARG);
}

class ProgIds : public LeakCheckedTest {
 protected:
  static constexpr CLSID kClass{0x5EED0001, 0x1111, 0x2222, {3, 3, 3, 3, 3, 3, 3, 3}};
  void SetUp() override {
    ClassEntry e;
    e.clsid = kClass;
    e.progId = u"Veze6.GuidTest.1";
    ClassRegistry::instance().registerClass(e);
  }
  void TearDown() override { ClassRegistry::instance().unregisterClass(kClass); }
};

TEST_F(ProgIds, LookUpIgnoresCase) {
  CLSID g{};
  ASSERT_EQ(CLSIDFromProgID(u"Veze6.GuidTest.1", &g), S_OK);
  EXPECT_EQ(g, kClass);
  g = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(u"VEZE6.guidtest.1", &g), S_OK);
  EXPECT_EQ(g, kClass);
}

TEST_F(ProgIds, UnknownEmptyAndNullNames) {
  CLSID g = kClass;
  EXPECT_EQ(CLSIDFromProgID(u"Veze6.GuidTest.2", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(g, GUID_NULL);
  EXPECT_EQ(CLSIDFromProgID(u"Veze6.GuidTest.1 ", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &g), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(u"Veze6.GuidTest.1", nullptr), E_INVALIDARG);
}

TEST_F(ProgIds, ProgIdFromClassId) {
  TaskString name;
  ASSERT_EQ(ProgIDFromCLSID(kClass, name.put()), S_OK);
  EXPECT_EQ(str(name.get()), u"Veze6.GuidTest.1");
  EXPECT_EQ(ProgIDFromCLSID(kSample, name.put()), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(name.get(), nullptr);
}

}  // namespace
}  // namespace opc::test
