// Reading DA 1.0 data streams: both formats with every kind of value the
// simulation server writes, and blocks that do not fit (hand-built and
// mutated), which must be refused whole without reading past the block or
// leaking what was decoded before the fault.
#include "simulator/datastream.h"

#include <cstring>
#include <random>

#include "core/datastreamreader.h"
#include "test_utils.h"

using namespace core_test;
using Result = TDataStreamReader::Result;

namespace {

// A stream block copied out of global memory, so tests can bend it.
std::vector<char> buildStream(bool withTime, const std::vector<OleVariant>& values,
                              DWORD transactionId = 0, std::vector<WORD> qualities = {}) {
  const std::size_t n = values.size();
  std::vector<OPCHANDLE> handles(n);
  std::vector<VARIANT> raw(n);
  std::vector<FILETIME> times(n);
  qualities.resize(n, OPC_QUALITY_GOOD);
  for (std::size_t i = 0; i < n; ++i) {
    handles[i] = OPCHANDLE(100 + i);
    raw[i] = values[i].get();
    times[i] = opc::fileTimeFromTicks(133000000000000000ULL + i);
  }
  HGLOBAL h = veze6::sim::buildDataStream(withTime, 7, transactionId, n, handles.data(), raw.data(),
                                          qualities.data(), times.data());
  const char* p = static_cast<const char*>(GlobalLock(h));
  std::vector<char> block(p, p + GlobalSize(h));
  GlobalUnlock(h);
  GlobalFree(h);
  return block;
}

template <class T>
void put(std::vector<char>& block, std::size_t at, const T& value) {
  ASSERT_LE(at + sizeof(T), block.size());
  std::memcpy(block.data() + at, &value, sizeof(T));
}

template <class T>
T get(const std::vector<char>& block, std::size_t at) {
  T value;
  std::memcpy(&value, block.data() + at, sizeof(T));
  return value;
}

// Value offset of item i in a stream with time stamps.
DWORD valueOffset(const std::vector<char>& block, std::size_t i) {
  return get<DWORD>(block, sizeof(OPCGROUPHEADER) + i * sizeof(OPCITEMHEADER1) + 4);
}

std::vector<OleVariant> everyKindOfValue() {
  const OleVariant strings =
      OleVariant::array(VT_BSTR, {OleVariant(u"alpha"), OleVariant(u""), OleVariant(u"γ")});
  std::vector<OleVariant> mixed{OleVariant(u"inner"), OleVariant(LONG(5)),
                                OleVariant::array(VT_I2, {OleVariant(SHORT(1))})};
  return {OleVariant(LONG(-42)),
          OleVariant(2.5),
          OleVariant(u"héllo wörld"),
          OleVariant(),
          OleVariant::null(),
          OleVariant(true),
          OleVariant::fromCurrency(CY{123456}),
          OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}, 1),
          strings,
          OleVariant::array(VT_VARIANT, mixed),
          OleVariant::array(VT_R8, {})};
}

class DataStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { before = opc::diag::snapshot(); }
  void TearDown() override {
    reader.Clear();
    const auto after = opc::diag::snapshot();
    EXPECT_EQ(after.bstrs, before.bstrs) << "decoded strings leaked";
    EXPECT_EQ(after.safeArrays, before.safeArrays) << "decoded arrays leaked";
  }

  Result read(const std::vector<char>& block, bool withTime = true) {
    return reader.Read(block.data(), block.size(), withTime);
  }

  opc::diag::Counters before{};
  TDataStreamReader reader;
};

TEST_F(DataStreamTest, BothFormats_DecodeEveryValueKind) {
  const auto values = everyKindOfValue();
  for (const bool withTime : {true, false}) {
    SCOPED_TRACE(withTime ? "with time stamps" : "without");
    const auto block = buildStream(withTime, values, 9, {0xD8, 0x40});
    ASSERT_EQ(read(block, withTime), Result::Ok);
    EXPECT_EQ(reader.Header().dwTransactionID, 9u);
    const auto entries = reader.Entries();
    ASSERT_EQ(entries.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(entries[i].hClient, 100 + i);
      EXPECT_TRUE(OleVariant(entries[i].value) == values[i]);
      EXPECT_EQ(opc::fileTimeTicks(entries[i].ftTimeStamp),
                withTime ? 133000000000000000ULL + i : 0u);
    }
    EXPECT_EQ(entries[0].wQuality, 0xD8) << "the reader keeps the whole word";
    EXPECT_EQ(entries[1].wQuality, 0x40);
    // The array's lower bound came through.
    LONG lbound = 0;
    SafeArrayGetLBound(entries[7].value.parray, 1, &lbound);
    EXPECT_EQ(lbound, 1);
  }
}

TEST_F(DataStreamTest, FailureStatus_GivesTheHeaderOnly) {
  auto block = buildStream(true, {OleVariant(LONG(1))}, 5);
  put(block, 16, E_FAIL);
  EXPECT_EQ(read(block), Result::Failed);
  EXPECT_EQ(reader.Header().dwTransactionID, 5u);
  EXPECT_TRUE(reader.Entries().empty());
}

TEST_F(DataStreamTest, NoItems_IsAnEmptyStream) {
  EXPECT_EQ(read(buildStream(true, {})), Result::Ok);
  EXPECT_TRUE(reader.Entries().empty());
}

TEST_F(DataStreamTest, HeadersThatDoNotFit_AreRefused) {
  auto block = buildStream(true, {OleVariant(LONG(1)), OleVariant(LONG(2))});
  EXPECT_EQ(reader.Read(block.data(), 19, true), Result::Malformed) << "no room for the header";
  EXPECT_EQ(reader.Read(nullptr, 100, true), Result::Malformed);
  put(block, 4, DWORD(1000));  // more item headers than the block holds
  EXPECT_EQ(read(block), Result::Malformed);
  put(block, 4, DWORD(0xFFFFFFFF));
  EXPECT_EQ(read(block), Result::Malformed);
  put(block, 4, DWORD(2));
  // The block cut short in the second value.
  EXPECT_EQ(reader.Read(block.data(), block.size() - 4, true), Result::Malformed);
  EXPECT_TRUE(reader.Entries().empty());
}

TEST_F(DataStreamTest, ValueOffsetsBeyondTheBlock_AreRefusedWhole) {
  auto block = buildStream(true, {OleVariant(u"first"), OleVariant(LONG(2))});
  const std::size_t second = sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1) + 4;
  for (const DWORD offset :
       {DWORD(block.size()), DWORD(block.size() - 15), DWORD(0xFFFFFFF0), DWORD(0xFFFFFFFF)}) {
    put(block, second, offset);
    EXPECT_EQ(read(block), Result::Malformed) << offset;
    EXPECT_TRUE(reader.Entries().empty()) << "the first item's string is not kept";
  }
  put(block, second, valueOffset(block, 0));  // both items share the first value: fits
  ASSERT_EQ(read(block), Result::Ok);
  EXPECT_TRUE(OleVariant(reader.Entries()[1].value) == OleVariant(u"first"));
}

TEST_F(DataStreamTest, StringPayloadsBeyondTheBlock_AreRefused) {
  auto block = buildStream(true, {OleVariant(u"some text")});
  const DWORD value = valueOffset(block, 0);
  const auto payload = get<std::uint64_t>(block, value + 8);
  put(block, payload, DWORD(0x7FFFFFFF));  // a length far beyond the block
  EXPECT_EQ(read(block), Result::Malformed);
  put(block, payload, DWORD(9));
  put(block, value + 8, std::uint64_t(block.size() - 2));  // the count itself does not fit
  EXPECT_EQ(read(block), Result::Malformed);
  put(block, value + 8, std::uint64_t(1) << 40);
  EXPECT_EQ(read(block), Result::Malformed);
}

TEST_F(DataStreamTest, ArrayPayloadsThatDoNotFit_AreRefused) {
  const auto original =
      buildStream(true, {OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))})});
  const DWORD value = valueOffset(original, 0);
  const auto payload = std::size_t(get<std::uint64_t>(original, value + 8));
  const auto refused = [&](auto&& bend) {
    auto block = original;
    bend(block);
    return read(block) == Result::Malformed;
  };
  EXPECT_TRUE(refused([&](auto& b) { put(b, payload, WORD(VT_R8)); })) << "element type differs";
  EXPECT_TRUE(refused([&](auto& b) { put(b, payload + 2, WORD(0)); })) << "no dimension";
  EXPECT_TRUE(refused([&](auto& b) { put(b, payload + 2, WORD(0xFFFF)); })) << "bounds beyond";
  EXPECT_TRUE(refused([&](auto& b) { put(b, payload + 4, DWORD(8)); })) << "slot size";
  EXPECT_TRUE(refused([&](auto& b) { put(b, payload + 8, DWORD(1000)); })) << "elements beyond";
  EXPECT_TRUE(refused([&](auto& b) {
    put(b, payload + 2, WORD(2));  // two dimensions of 0x10000 elements each
    put(b, payload + 8, DWORD(0x10000));
    put(b, payload + 16, DWORD(0x10000));
  }));
  EXPECT_TRUE(refused([&](auto& b) { put(b, value, WORD(VT_ARRAY | VT_UNKNOWN)); }));
  EXPECT_TRUE(refused([&](auto& b) { put(b, value, WORD(VT_BYREF | VT_I4)); }));
  EXPECT_TRUE(refused([&](auto& b) { put(b, value, WORD(VT_DISPATCH)); }));
  EXPECT_FALSE(refused([](auto&) {})) << "the unbent block reads";
}

TEST_F(DataStreamTest, PayloadsSharedBeyondTheBlocksSize_AreRefused) {
  // Many items all pointing at one string of most of the block: decoding
  // them would allocate far more than the block holds.
  const std::u16string text(2000, u'x');
  std::vector<OleVariant> values{OleVariant(std::u16string_view(text))};
  for (int i = 0; i < 50; ++i) values.emplace_back(LONG(i));
  auto block = buildStream(true, values);
  const DWORD first = valueOffset(block, 0);
  for (std::size_t i = 1; i < values.size(); ++i)
    put(block, sizeof(OPCGROUPHEADER) + i * sizeof(OPCITEMHEADER1) + 4, first);
  EXPECT_EQ(read(block), Result::Malformed);
}

TEST_F(DataStreamTest, VariantArrayReferringToItself_IsRefused) {
  auto block = buildStream(true, {OleVariant::array(VT_VARIANT, {OleVariant(LONG(1))})});
  const DWORD value = valueOffset(block, 0);
  const auto payload = std::size_t(get<std::uint64_t>(block, value + 8));
  const std::size_t slot = payload + 16;  // after the header and one bound
  // The element is an array of variants whose payload is this same array.
  put(block, slot, WORD(VT_ARRAY | VT_VARIANT));
  put(block, slot + 8, std::uint64_t(payload));
  EXPECT_EQ(read(block), Result::Malformed);
}

TEST_F(DataStreamTest, MutatedStreams_NeverReadOutsideTheBlockOrLeak) {
  const auto original = buildStream(true, everyKindOfValue());
  std::mt19937 random(20240601);
  int ok = 0;
  for (int round = 0; round < 3000; ++round) {
    auto block = original;
    const int flips = 1 + int(random() % 4);
    for (int f = 0; f < flips; ++f) block[random() % block.size()] = char(random());
    // A copy of exactly the block's size: the sanitizers see any overrun.
    std::vector<char> exact(block);
    if (reader.Read(exact.data(), exact.size(), true) == Result::Ok) ++ok;
    reader.Clear();
  }
  EXPECT_GT(ok, 0) << "some mutations only touch values and stay readable";
}

}  // namespace
