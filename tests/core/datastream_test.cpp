// Reading DA 1.0 data streams: both formats with every kind of value the
// simulation server writes, blocks laid out by hand as other servers write
// them, and values that do not fit (hand-built and mutated), which cost only
// their own item, never reading past the block or leaking.
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

// The leak check runs after the reader is gone: what it decoded must be freed
// with it.
class DataStreamTest : public LeakCheckedTest {
 protected:
  Result read(const std::vector<char>& block, bool withTime = true) {
    return reader.Read(block.data(), block.size(), withTime);
  }

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

// A block laid out as a third-party DA 1.0 server writes it: each payload
// right after its VARIANT, whose pointer field means nothing in a stream.
class StandardBlock {
 public:
  explicit StandardBlock(std::size_t items)
      : block_(sizeof(OPCGROUPHEADER) + items * sizeof(OPCITEMHEADER2)) {
    put(block_, 4, DWORD(items));
  }
  template <class T>
  void append(const T& value) {
    const auto* p = reinterpret_cast<const char*>(&value);
    block_.insert(block_.end(), p, p + sizeof(T));
  }
  // Starts item i's value here: a VARIANT of vt with `field` in its value.
  void value(std::size_t i, VARTYPE vt, std::uint64_t field) {
    put(block_, sizeof(OPCGROUPHEADER) + i * sizeof(OPCITEMHEADER2) + 4, DWORD(block_.size()));
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.ullVal = field;
    append(v);
  }
  void text(std::u16string_view s) {
    append(DWORD(s.size() * sizeof(char16_t)));
    for (const char16_t c : s) append(c);
    append(char16_t(0));
  }
  std::vector<char>& bytes() {
    put(block_, 0, DWORD(block_.size()));
    return block_;
  }

 private:
  std::vector<char> block_;
};

TEST_F(DataStreamTest, StandardLayout_DecodesStringsArraysAndNumbers) {
  StandardBlock b(3);
  b.value(0, VT_BSTR, 0x00C0FFEE);  // a server's pointer: meaningless here
  b.text(u"hi");
  b.value(1, VT_ARRAY | VT_I2, 0x00BADBAD);
  // The 32-bit descriptor: dims, features, element size, locks, data pointer,
  // then (count, lower bound) per dimension; the elements follow.
  b.append(WORD(1));
  b.append(WORD(0x80));
  b.append(DWORD(2));
  b.append(DWORD(0));
  b.append(DWORD(0x1234));
  b.append(DWORD(2));
  b.append(LONG(-1));
  b.append(SHORT(5));
  b.append(SHORT(6));
  b.value(2, VT_I4, 7);
  ASSERT_EQ(read(b.bytes(), false), Result::Ok);
  const auto entries = reader.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(OleVariant(entries[0].value) == OleVariant(u"hi"));
  EXPECT_TRUE(OleVariant(entries[1].value) ==
              OleVariant::array(VT_I2, {OleVariant(SHORT(5)), OleVariant(SHORT(6))}, -1));
  EXPECT_TRUE(OleVariant(entries[2].value) == OleVariant(LONG(7)));
}

TEST_F(DataStreamTest, EmptyMultiDimensionalArray_Decodes) {
  // 1000 x 0 elements: no element at all, however large the first dimension.
  const SAFEARRAYBOUND bounds[2] = {{1000, 0}, {0, 0}};
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreate(VT_I4, 2, bounds);
  const OleVariant empty = OleVariant::attach(v);
  ASSERT_EQ(read(buildStream(true, {empty, OleVariant(LONG(3))})), Result::Ok);
  EXPECT_TRUE(OleVariant(reader.Entries()[0].value) == empty);
  EXPECT_TRUE(OleVariant(reader.Entries()[1].value) == OleVariant(LONG(3)));
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
  EXPECT_TRUE(reader.Entries().empty());
}

TEST_F(DataStreamTest, ValuesBeyondTheBlock_CostOnlyTheirItem) {
  auto block = buildStream(true, {OleVariant(u"first"), OleVariant(LONG(2))});
  const std::size_t second = sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1) + 4;
  const auto secondOnlyFails = [&](const std::vector<char>& b, std::size_t size) {
    return reader.Read(b.data(), size, true) == Result::Ok && reader.Entries()[0].decoded &&
           OleVariant(reader.Entries()[0].value) == OleVariant(u"first") &&
           !reader.Entries()[1].decoded && reader.Entries()[1].value.vt == VT_EMPTY;
  };
  EXPECT_TRUE(secondOnlyFails(block, block.size() - 4)) << "the block cut short";
  for (const DWORD offset :
       {DWORD(block.size()), DWORD(block.size() - 15), DWORD(0xFFFFFFF0), DWORD(0xFFFFFFFF)}) {
    put(block, second, offset);
    EXPECT_TRUE(secondOnlyFails(block, block.size())) << offset;
  }
  put(block, second, valueOffset(block, 0));  // both items share the first value: fits
  ASSERT_EQ(read(block), Result::Ok);
  EXPECT_TRUE(OleVariant(reader.Entries()[1].value) == OleVariant(u"first"));
}

TEST_F(DataStreamTest, StringPayloadsThatDoNotFit_AreNotDecoded) {
  const auto original = buildStream(true, {OleVariant(u"some text")});
  const std::size_t length = valueOffset(original, 0) + sizeof(VARIANT);
  const auto decodes = [&](auto&& bend) {
    auto block = original;
    bend(block);
    return read(block) == Result::Ok && reader.Entries()[0].decoded;
  };
  EXPECT_FALSE(decodes([&](auto& b) { put(b, length, DWORD(0x7FFFFFFF)); }));
  EXPECT_FALSE(decodes([&](auto& b) { put(b, length, DWORD(20)); })) << "no room for the end";
  EXPECT_FALSE(decodes([&](auto& b) { put(b, length, DWORD(17)); })) << "half a character";
  EXPECT_FALSE(decodes([&](auto& b) { b.resize(length + 2); })) << "the count itself";
  EXPECT_TRUE(decodes([](auto&) {})) << "the unbent block reads";
}

TEST_F(DataStreamTest, ArrayPayloadsThatDoNotFit_AreNotDecoded) {
  const auto original =
      buildStream(true, {OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))})});
  const DWORD value = valueOffset(original, 0);
  const std::size_t descriptor = value + sizeof(VARIANT);
  const auto decodes = [&](auto&& bend) {
    auto block = original;
    bend(block);
    return read(block) == Result::Ok && reader.Entries()[0].decoded;
  };
  EXPECT_FALSE(decodes([&](auto& b) { put(b, value, WORD(VT_ARRAY | VT_R8)); })) << "element size";
  EXPECT_FALSE(decodes([&](auto& b) { put(b, descriptor, WORD(0xFFFF)); })) << "bounds";
  EXPECT_FALSE(decodes([&](auto& b) { put(b, descriptor + 4, DWORD(8)); })) << "element size";
  EXPECT_FALSE(decodes([&](auto& b) { put(b, descriptor + 16, DWORD(1000)); })) << "elements";
  EXPECT_FALSE(decodes([&](auto& b) {
    put(b, descriptor, WORD(2));  // two dimensions of 0x10000 elements each
    put(b, descriptor + 16, DWORD(0x10000));
    put(b, descriptor + 24, DWORD(0x10000));
  }));
  EXPECT_FALSE(decodes([&](auto& b) { put(b, descriptor + 20, LONG(INT32_MAX)); }))
      << "an upper bound beyond the LONG range";
  EXPECT_FALSE(decodes([&](auto& b) { put(b, value, WORD(VT_ARRAY | VT_UNKNOWN)); }));
  EXPECT_FALSE(decodes([&](auto& b) { put(b, value, WORD(VT_BYREF | VT_I4)); }));
  EXPECT_FALSE(decodes([&](auto& b) { put(b, value, WORD(VT_DISPATCH)); }));
  EXPECT_TRUE(decodes([&](auto& b) { put(b, descriptor, WORD(0)); })) << "a null array";
  EXPECT_EQ(reader.Entries()[0].value.parray, nullptr);
  EXPECT_TRUE(decodes([](auto&) {})) << "the unbent block reads";
}

TEST_F(DataStreamTest, PayloadsSharedBeyondTheBlocksSize_AreNotDecoded) {
  // Many items all pointing at one string of most of the block: decoding
  // them all would allocate far more than the block holds.
  const std::u16string text(2000, u'x');
  std::vector<OleVariant> values{OleVariant(std::u16string_view(text))};
  for (int i = 0; i < 50; ++i) values.emplace_back(LONG(i));
  auto block = buildStream(true, values);
  const DWORD first = valueOffset(block, 0);
  for (std::size_t i = 1; i < values.size(); ++i)
    put(block, sizeof(OPCGROUPHEADER) + i * sizeof(OPCITEMHEADER1) + 4, first);
  ASSERT_EQ(read(block), Result::Ok);
  int decoded = 0;
  for (const auto& entry : reader.Entries()) decoded += entry.decoded;
  EXPECT_EQ(decoded, 1);
}

TEST_F(DataStreamTest, VariantsNestedTooDeep_AreNotDecoded) {
  const auto nested = [](int levels) {
    OleVariant v(LONG(1));
    for (int i = 0; i < levels; ++i) v = OleVariant::array(VT_VARIANT, {v});
    return v;
  };
  ASSERT_EQ(read(buildStream(true, {nested(16), nested(17), OleVariant(LONG(2))})), Result::Ok);
  EXPECT_TRUE(reader.Entries()[0].decoded);
  EXPECT_FALSE(reader.Entries()[1].decoded);
  EXPECT_TRUE(reader.Entries()[2].decoded);
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
    if (reader.Read(exact.data(), exact.size(), true) == Result::Ok) {
      bool all = true;
      for (const auto& entry : reader.Entries()) all = all && entry.decoded;
      ok += all;
    }
    reader.Clear();
  }
  EXPECT_GT(ok, 0) << "some mutations only touch values and stay readable";
}

}  // namespace
