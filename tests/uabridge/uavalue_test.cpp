// The bridge's value mapping without a server: item id text, UA values to
// VARIANTs and back, qualities and the server status record.
#include "uabridge/uavalue.h"

#include <gtest/gtest.h>

#include "common/leakcheck.h"
#include "opc/taskmem.h"

namespace veze6::uab {
namespace {

using T = ua::BuiltinType;

class UaValue : public veze6::test::LeakCheckedTest {};

ua::Variant scalar(T type, ua::Variant::Storage value) {
  return ua::Variant(type, std::move(value));
}

ua::ExtensionObject binary(std::uint32_t encoding, std::string body) {
  return {ua::NodeId(0, encoding), ua::ExtensionObject::Encoding::Binary, std::move(body)};
}

TEST_F(UaValue, ItemIdText) {
  const std::vector<std::string> ns = {"http://opcfoundation.org/UA/", "urn:app",
                                       "urn:veze6:testserver"};
  const auto parse = [&](std::u16string_view text, ua::NodeId* id = nullptr) {
    ua::NodeId out;
    const HRESULT hr = parseItemId(text, ns, out);
    if (id) *id = out;
    return hr;
  };
  ua::NodeId id;
  EXPECT_EQ(parse(u"ns=2;s=Line1.Temp", &id), S_OK);
  EXPECT_EQ(id, ua::NodeId(2, "Line1.Temp"));
  EXPECT_EQ(parse(u"i=85", &id), S_OK);
  EXPECT_EQ(id, ua::NodeId(0, 85));
  // A namespace URI stands for its index; the URI may hold ';'.
  EXPECT_EQ(parse(u"nsu=urn:veze6:testserver;s=A;B", &id), S_OK);
  EXPECT_EQ(id, ua::NodeId(2, "A;B"));
  EXPECT_EQ(itemIdText(id), u"ns=2;s=A;B");
  EXPECT_EQ(parse(u"ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63", &id), S_OK);
  EXPECT_EQ(itemIdText(id), u"ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63");
  EXPECT_EQ(parse(u"ns=2;b=AAF/gP8=", &id), S_OK);
  EXPECT_EQ(id.text, std::string("\x00\x01\x7F\x80\xFF", 5));
  EXPECT_EQ(parse(u"ns=2;s=Grüße", &id), S_OK);
  EXPECT_EQ(itemIdText(id), u"ns=2;s=Grüße");

  // Not a node id at all: invalid. Well-formed but naming no namespace of
  // the server: unknown.
  for (std::u16string_view bad :
       {u"", u"Line1.Temp", u"ns=2;s=", u"ns=2;b=", u"ns=70000;i=1", u"ns=2;i=-1", u"i=abc",
        u"ns=2;g=not-a-guid", u"S=abc", u" ns=2;i=1", u"nsu=;s=A", u"nsu=urn:app;x=1",
        u"ns=2;s=\xD800x"}) {
    EXPECT_EQ(parse(bad), OPC_E_INVALIDITEMID) << opc::utf16ToUtf8(bad);
  }
  EXPECT_EQ(parse(u"ns=3;i=1001"), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(parse(u"nsu=urn:elsewhere;i=1"), OPC_E_UNKNOWNITEMID);

  // Expanded ids from browsing: by URI, or on another server (not ours).
  EXPECT_EQ(localNodeId({ua::NodeId(0, "X"), "urn:app", 0}, ns), ua::NodeId(1, "X"));
  EXPECT_FALSE(localNodeId({ua::NodeId(0, "X"), "urn:elsewhere", 0}, ns));
  EXPECT_FALSE(localNodeId({ua::NodeId(1, "X"), "", 1}, ns));
}

// Every built-in type to its VARIANT and back to the same UA value; the
// VARIANT's type is the canonical type of the data type.
TEST_F(UaValue, TypesRoundTrip) {
  ua::Guid guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
  const ua::DateTime leapDay = 133536296967890000;  // 2024-02-29T12:34:56.789Z
  struct Case {
    ua::Variant value;
    VARTYPE vt;
  };
  const std::vector<Case> cases = {
      {ua::Variant::boolean(true), VT_BOOL},
      {scalar(T::SByte, std::int64_t{-100}), VT_I1},
      {scalar(T::Byte, std::uint64_t{200}), VT_UI1},
      {scalar(T::Int16, std::int64_t{-30000}), VT_I2},
      {scalar(T::UInt16, std::uint64_t{60000}), VT_UI2},
      {ua::Variant::int32(-2000000000), VT_I4},
      {ua::Variant::uint32(4000000000u), VT_UI4},
      {scalar(T::Int64, std::int64_t{-9000000000000}), VT_I8},
      {scalar(T::UInt64, std::uint64_t{18000000000000000000u}), VT_UI8},
      {ua::Variant::float32(1.5f), VT_R4},
      {ua::Variant::float64(3.141592653589793), VT_R8},
      {ua::Variant::string("Grüße, veze6"), VT_BSTR},
      {scalar(T::DateTime, leapDay), VT_DATE},
      {scalar(T::Guid, guid), VT_BSTR},
      {scalar(T::ByteString, std::string("\x00\x01\x7F\x80\xFF", 5)), VT_ARRAY | VT_UI1},
      {scalar(T::NodeId, ua::NodeId(2, "Tree.A")), VT_BSTR},
      {scalar(T::StatusCode, std::uint64_t{0x40900000}), VT_UI4},
      {scalar(T::LocalizedText, ua::LocalizedText{"", "Hello"}), VT_BSTR},
      {scalar(T::QualifiedName, ua::QualifiedName{2, "Veze6Name"}), VT_BSTR},
      {ua::Variant::array(T::Int32, {ua::Variant::int32(-1), ua::Variant::int32(7)}),
       VT_ARRAY | VT_I4},
      {ua::Variant::array(T::String, {ua::Variant::string("alpha"), ua::Variant::string("")}),
       VT_ARRAY | VT_BSTR},
      {ua::Variant::array(T::ByteString, {scalar(T::ByteString, std::string("\x01\x02", 2)),
                                          scalar(T::ByteString, std::string())}),
       VT_ARRAY | VT_VARIANT},
      {ua::Variant::array(T::Int32, {}), VT_ARRAY | VT_I4},
  };
  for (const Case& c : cases) {
    const std::int32_t rank = c.value.isArray() ? 1 : -1;
    SCOPED_TRACE(std::string(ua::builtinTypeName(c.value.type)) + " " + c.value.toString());
    EXPECT_EQ(canonicalType(c.value.type, rank), c.vt);
    VARIANT v;
    ASSERT_EQ(variantFromUa(c.value, &v), S_OK);
    OleVariant owned = OleVariant::attach(v);
    EXPECT_EQ(owned.vt(), c.vt);
    ua::Variant back;
    ASSERT_EQ(uaFromVariant(owned.get(), c.value.type, rank, back), S_OK);
    EXPECT_EQ(back.type, c.value.type);
    EXPECT_EQ(back.toString(), c.value.toString());
  }
  // A few texts as DA clients see them.
  VARIANT v;
  ASSERT_EQ(variantFromUa(scalar(T::QualifiedName, ua::QualifiedName{2, "N"}), &v), S_OK);
  EXPECT_EQ(OleVariant::attach(v), OleVariant(u"2:N"));
  ASSERT_EQ(variantFromUa(scalar(T::Guid, guid), &v), S_OK);
  EXPECT_EQ(OleVariant::attach(v), OleVariant(u"72962B91-FA75-4AE6-8D28-B404DC7DAF63"));
}

TEST_F(UaValue, StructuresAndOddValues) {
  // Range as [low, high]; EUInformation as its display name; others as bytes.
  std::string range(16, '\0');
  const double bounds[2] = {-10.0, 110.0};
  std::memcpy(range.data(), bounds, 16);
  VARIANT v;
  ASSERT_EQ(variantFromUa(scalar(T::ExtensionObject, binary(886, range)), &v), S_OK);
  EXPECT_EQ(OleVariant::attach(v),
            OleVariant::array(VT_R8, {OleVariant(-10.0), OleVariant(110.0)}));
  ASSERT_EQ(variantFromUa(scalar(T::ExtensionObject, binary(886, "short")), &v), S_OK);
  EXPECT_EQ(OleVariant::attach(v).vt(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(canonicalType(T::ExtensionObject, -1, ua::NodeId(0, 884)), VT_ARRAY | VT_R8);

  // A server's value that is not what its type says is refused, never read.
  EXPECT_EQ(variantFromUa(scalar(T::Int32, std::string("text")), &v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(variantFromUa(scalar(T::Byte, std::uint64_t{300}), &v), DISP_E_BADVARTYPE);
  EXPECT_EQ(
      variantFromUa(
          ua::Variant::array(T::Int32, {ua::Variant::int32(1), ua::Variant::string("two")}), &v),
      DISP_E_BADVARTYPE);
  EXPECT_EQ(variantFromUa(scalar(T::DataValue, std::make_shared<ua::DataValue>()), &v),
            DISP_E_BADVARTYPE);
  // Mixed values go into VARIANT elements.
  ASSERT_EQ(
      variantFromUa(
          ua::Variant::array(T::Variant, {ua::Variant::int32(1), ua::Variant::string("two")}), &v),
      S_OK);
  EXPECT_EQ(OleVariant::attach(v),
            OleVariant::array(VT_VARIANT, {OleVariant(LONG(1)), OleVariant(u"two")}));
}

TEST_F(UaValue, WritesConvertToTheNodesTypeOrFailClearly) {
  ua::Variant out;
  EXPECT_EQ(uaFromVariant(OleVariant(u"42").get(), T::Int32, -1, out), S_OK);
  EXPECT_EQ(out.toString(), "42");
  EXPECT_EQ(out.type, T::Int32);
  EXPECT_EQ(uaFromVariant(OleVariant(u"abc").get(), T::Int32, -1, out), OPC_E_BADTYPE);
  EXPECT_EQ(uaFromVariant(OleVariant(LONG(300)).get(), T::Byte, -1, out), OPC_E_RANGE);
  EXPECT_EQ(uaFromVariant(OleVariant(u"not a guid").get(), T::Guid, -1, out), OPC_E_BADTYPE);
  EXPECT_EQ(uaFromVariant(OleVariant(LONG(1)).get(), T::ExtensionObject, -1, out), OPC_E_BADTYPE);
  // Shape: an array for a scalar node and a scalar for an array node.
  const OleVariant array = OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))});
  EXPECT_EQ(uaFromVariant(array.get(), T::Int32, -1, out), OPC_E_BADTYPE);
  EXPECT_EQ(uaFromVariant(OleVariant(LONG(1)).get(), T::Int32, 1, out), OPC_E_BADTYPE);
  EXPECT_EQ(uaFromVariant(array.get(), T::Double, 1, out), S_OK);
  EXPECT_EQ(out.toString(), "[1, 2]");
  // An abstract data type takes the VARIANT's own type.
  EXPECT_EQ(uaFromVariant(OleVariant(SHORT(5)).get(), T::Variant, -2, out), S_OK);
  EXPECT_EQ(out.type, T::Int16);

  // A descriptor bent by its sender is refused, not walked.
  OleVariant bent = OleVariant::array(VT_I4, {OleVariant(LONG(1))});
  bent.ptr()->parray->cbElements = 2;
  EXPECT_EQ(uaFromVariant(bent.get(), T::Int32, 1, out), OPC_E_BADTYPE);
  bent.ptr()->parray->cbElements = 4;
  bent.ptr()->parray->vt = VT_BSTR;
  EXPECT_EQ(uaFromVariant(bent.get(), T::Int32, 1, out), OPC_E_BADTYPE);
  bent.ptr()->parray->vt = VT_I4;

  // Requested types: what the client asked for, or a clear error.
  VARIANT r;
  EXPECT_EQ(changeToRequestedType(OleVariant(2.5).get(), VT_BSTR, &r), S_OK);
  EXPECT_EQ(OleVariant::attach(r), OleVariant(u"2.5"));
  EXPECT_EQ(changeToRequestedType(OleVariant(1e10).get(), VT_I2, &r), OPC_E_RANGE);
  EXPECT_EQ(r.vt, VT_EMPTY);
  EXPECT_TRUE(convertibleType(VT_R8, VT_I4));
  EXPECT_TRUE(convertibleType(VT_BSTR, VT_I4));  // by each value
  EXPECT_FALSE(convertibleType(VT_ARRAY | VT_BSTR, VT_BSTR));
  EXPECT_FALSE(convertibleType(VT_I4, VT_ARRAY | VT_I4));
}

TEST_F(UaValue, QualitiesAndResults) {
  EXPECT_EQ(qualityFromStatus(0), OPC_QUALITY_GOOD);
  EXPECT_EQ(qualityFromStatus(0x00960000), OPC_QUALITY_LOCAL_OVERRIDE);
  EXPECT_EQ(qualityFromStatus(0x40900000), OPC_QUALITY_LAST_USABLE);
  EXPECT_EQ(qualityFromStatus(0x40930000), OPC_QUALITY_SENSOR_CAL);
  EXPECT_EQ(qualityFromStatus(0x40940000), OPC_QUALITY_EGU_EXCEEDED);
  EXPECT_EQ(qualityFromStatus(0x40950000), OPC_QUALITY_SUB_NORMAL);
  EXPECT_EQ(qualityFromStatus(0x80340000), OPC_QUALITY_CONFIG_ERROR);
  EXPECT_EQ(qualityFromStatus(0x808A0000), OPC_QUALITY_NOT_CONNECTED);
  EXPECT_EQ(qualityFromStatus(0x808B0000), OPC_QUALITY_DEVICE_FAILURE);
  EXPECT_EQ(qualityFromStatus(0x808C0000), OPC_QUALITY_SENSOR_FAILURE);
  EXPECT_EQ(qualityFromStatus(0x80310000), OPC_QUALITY_COMM_FAILURE);
  EXPECT_EQ(qualityFromStatus(0x808D0000), OPC_QUALITY_OUT_OF_SERVICE);
  // Codes without a substatus of their own keep their family.
  EXPECT_EQ(qualityFromStatus(0x40910000), OPC_QUALITY_UNCERTAIN);
  EXPECT_EQ(qualityFromStatus(0x80AB0000), OPC_QUALITY_BAD);
  EXPECT_EQ(qualityFromStatus(0x002D0000), OPC_QUALITY_GOOD);
  // Limit bits travel with a data value's status (info type bit set) only.
  EXPECT_EQ(qualityFromStatus(0x00000500), OPC_QUALITY_GOOD | OPC_LIMIT_LOW);
  EXPECT_EQ(qualityFromStatus(0x40940600), OPC_QUALITY_EGU_EXCEEDED | OPC_LIMIT_HIGH);
  EXPECT_EQ(qualityFromStatus(0x00000300), OPC_QUALITY_GOOD);

  EXPECT_EQ(resultFromStatus(0x80340000), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(resultFromStatus(0x803B0000), OPC_E_BADRIGHTS);
  EXPECT_EQ(resultFromStatus(0x803C0000), OPC_E_RANGE);
  EXPECT_EQ(resultFromStatus(0x80740000), OPC_E_BADTYPE);
  EXPECT_EQ(resultFromStatus(0x800A0000), E_FAIL);
  EXPECT_EQ(resultFromStatus(0x40900000), S_OK);

  // A bad value carries no value; its time stamp is the source's, else the server's.
  ua::DataValue dv;
  dv.status = 0x808A0000;
  dv.value = ua::Variant::int32(5);
  dv.serverTimestamp = 133536296967890000;
  const ItemValue bad = itemValueFromUa(dv);
  EXPECT_TRUE(bad.value.isEmpty());
  EXPECT_EQ(bad.quality, OPC_QUALITY_NOT_CONNECTED);
  EXPECT_EQ(bad.timestamp.dwLowDateTime, fileTimeFromUa(dv.serverTimestamp).dwLowDateTime);
  dv.status = 0;
  dv.value = scalar(T::Int32, std::string("hostile"));
  const ItemValue odd = itemValueFromUa(dv);
  EXPECT_EQ(odd.quality, OPC_QUALITY_BAD);
  EXPECT_EQ(odd.error, DISP_E_BADVARTYPE);
}

TEST_F(UaValue, ServerStatusRecordAndTimes) {
  ua::ServerStatus s;
  s.startTime = 133536296967890000;
  s.currentTime = s.startTime + 10000000;
  s.state = ua::ServerState::Shutdown;
  s.buildInfo = {"urn:x", "Example Corp", "Plant Server", "2.14.7", "", 0};
  OPCSERVERSTATUS status{};
  ASSERT_EQ(fillServerStatus(s, status), S_OK);
  opc::TaskString vendor;
  *vendor.put() = status.szVendorInfo;
  EXPECT_EQ(std::u16string(vendor.get()), u"Example Corp Plant Server");
  EXPECT_EQ(status.dwServerState, OPC_STATUS_SUSPENDED);
  EXPECT_EQ(status.wMajorVersion, 2);
  EXPECT_EQ(status.wMinorVersion, 14);
  EXPECT_EQ(status.wBuildNumber, 7);
  EXPECT_EQ(status.ftStartTime.dwHighDateTime, DWORD(s.startTime >> 32));

  // Dates in milliseconds come back exactly; the no-time stays no time.
  const ua::DateTime t = 133536296967890000;
  EXPECT_EQ(uaFromDate(dateFromUa(t)), t);
  EXPECT_EQ(dateFromUa(116444736000000000), 25569.0);  // 1970-01-01
  EXPECT_EQ(uaFromDate(-200000.0), 0);
  EXPECT_EQ(uaFromDate(1e300), std::numeric_limits<ua::DateTime>::max());
}

}  // namespace
}  // namespace veze6::uab
