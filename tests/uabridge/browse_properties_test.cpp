// The bridge's browser, item properties and value mapping against the
// node-opcua test server (tests/ua/server/README.md has its address space).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "common/leakcheck.h"
#include "opc/objidl.h"
#include "opc/taskmem.h"
#include "uabridge/uabrowser.h"
#include "uabridge/uanodeinfo.h"
#include "uabridge/uaproperties.h"
#include "uabridge/uavalue.h"
#include "uatestserver.h"

namespace veze6::uab {
namespace {

std::u16string str(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// One session for the suite, connected on first use.
std::shared_ptr<UaSession> sharedSession(const std::string& url) {
  static std::shared_ptr<UaSession> session;
  if (!session) {
    auto s = std::make_shared<UaSession>();
    ua::ConnectOptions options;
    options.endpointUrl = url;
    if (ua::isBad(s->client.connect(options))) return nullptr;
    s->captureServerFacts();
    session = s;
  }
  return session;
}

class UaBridge : public veze6::test::LeakCheckedTest {
 protected:
  void SetUp() override {
    server_ = veze6test::sharedUaServer();
    if (!server_) GTEST_SKIP() << veze6test::uaServerSkipReason();
    ASSERT_TRUE(server_->running()) << server_->error() << server_->serverErrors();
    session_ = sharedSession(server_->url());
    ASSERT_TRUE(session_);
    LeakCheckedTest::SetUp();
  }

  std::vector<std::u16string> list(UaBrowser& b, OPCBROWSETYPE type, LPCWSTR filter = u"",
                                   VARTYPE vt = VT_EMPTY, DWORD rights = 0,
                                   HRESULT* result = nullptr) {
    ComPtr<IEnumString> e;
    const HRESULT hr = b.BrowseOPCItemIDs(type, filter, vt, rights, e.put());
    if (result) *result = hr;
    std::vector<std::u16string> names;
    if (FAILED(hr)) return names;
    LPOLESTR s = nullptr;
    while (e->Next(1, &s, nullptr) == S_OK) {
      names.emplace_back(s);
      CoTaskMemFree(s);
    }
    EXPECT_EQ(hr == S_FALSE, names.empty());
    return names;
  }

  // Item ids of the leaves at and below the position, walking branches.
  std::vector<std::u16string> walk(UaBrowser& b) {
    std::vector<std::u16string> ids;
    for (const auto& leaf : list(b, OPC_LEAF)) ids.push_back(itemId(b, leaf.c_str()));
    for (const auto& branch : list(b, OPC_BRANCH)) {
      EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, branch.c_str()), S_OK);
      for (auto& id : walk(b)) ids.push_back(std::move(id));
      EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    }
    return ids;
  }

  std::u16string itemId(UaBrowser& b, LPCWSTR name) {
    opc::TaskString id;
    if (FAILED(b.GetItemID(const_cast<LPWSTR>(name), id.put()))) return u"<failed>";
    return str(id.get());
  }

  veze6test::TestServerProcess* server_ = nullptr;
  std::shared_ptr<UaSession> session_;
};

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST_F(UaBridge, BrowsesTheTreeUpDownAndTo) {
  UaBrowser b(session_);
  OPCNAMESPACETYPE org{};
  EXPECT_EQ(b.QueryOrganization(&org), S_OK);
  EXPECT_EQ(org, OPC_NS_HIERARCHIAL);
  const auto top = list(b, OPC_BRANCH);
  EXPECT_THAT(top, Contains(u"Tree"));
  EXPECT_THAT(top, Contains(u"DA"));
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);  // at the root

  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Tree"), S_OK);
  EXPECT_THAT(list(b, OPC_BRANCH), UnorderedElementsAre(u"A", u"Empty"));
  EXPECT_TRUE(list(b, OPC_LEAF).empty());
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, u"A"), S_OK);
  EXPECT_THAT(list(b, OPC_BRANCH), ElementsAre(u"B"));
  EXPECT_THAT(list(b, OPC_LEAF), ElementsAre(u"Value"));
  EXPECT_EQ(itemId(b, u"Value"), u"ns=2;s=Tree.A.Value");
  EXPECT_EQ(itemId(b, u""), u"ns=2;s=Tree.A");
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Value"), E_INVALIDARG);  // a leaf
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Nowhere"), E_INVALIDARG);
  // The flat listing below the position: every variable's item id.
  EXPECT_THAT(list(b, OPC_FLAT),
              UnorderedElementsAre(u"ns=2;s=Tree.A.Value", u"ns=2;s=Tree.A.B.Value",
                                   u"ns=2;s=Tree.A.B.C.Leaf"));
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
  EXPECT_EQ(itemId(b, u""), u"ns=2;s=Tree");
  // Walking every branch finds what the flat listing lists.
  EXPECT_THAT(walk(b), ::testing::UnorderedElementsAreArray(list(b, OPC_FLAT)));
  EXPECT_EQ(itemId(b, u""), u"ns=2;s=Tree");

  // TO by a dotted path of names, by a branch's item id (UP then walks the
  // server's path), and "" for the root; never to a leaf.
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"Tree.A.B.C"), S_OK);
  EXPECT_THAT(list(b, OPC_LEAF), ElementsAre(u"Leaf"));
  EXPECT_EQ(itemId(b, u"Leaf"), u"ns=2;s=Tree.A.B.C.Leaf");
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"ns=2;s=Tree.A.B"), S_OK);
  EXPECT_THAT(list(b, OPC_LEAF), ElementsAre(u"Value"));
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
  EXPECT_EQ(itemId(b, u""), u"ns=2;s=Tree.A");
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"ns=2;s=Tree.A.Value"), E_INVALIDARG);
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"Tree.Nowhere"), E_INVALIDARG);
  EXPECT_EQ(itemId(b, u""), u"ns=2;s=Tree.A");  // a failed move stays put
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(itemId(b, u""), u"i=85");
  // A full id is its own item id; an unknown one is none.
  EXPECT_EQ(itemId(b, u"ns=2;s=Scalar.Int32"), u"ns=2;s=Scalar.Int32");
  EXPECT_EQ(itemId(b, u"ns=2;s=NoSuchNode"), u"<failed>");

  ComPtr<IEnumString> paths;
  EXPECT_EQ(b.BrowseAccessPaths(u"ns=2;s=Scalar.Int32", paths.put()), S_FALSE);
  EXPECT_EQ(b.BrowseAccessPaths(u"not an id", paths.put()), OPC_E_INVALIDITEMID);
}

TEST_F(UaBridge, ListingFilters) {
  UaBrowser b(session_);
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"Access"), S_OK);
  EXPECT_THAT(list(b, OPC_LEAF, u"", VT_EMPTY, OPC_WRITEABLE),
              UnorderedElementsAre(u"ReadWrite", u"ReadWriteString", u"Limited"));
  EXPECT_THAT(list(b, OPC_LEAF, u"Read*", VT_R8), UnorderedElementsAre(u"ReadOnly", u"ReadWrite"));
  EXPECT_THAT(list(b, OPC_LEAF, u"*[Ss]tring"), ElementsAre(u"ReadWriteString"));
  EXPECT_TRUE(list(b, OPC_LEAF, u"#*").empty());
  HRESULT hr = S_OK;
  list(b, OPC_LEAF, u"[", VT_EMPTY, 0, &hr);
  EXPECT_EQ(hr, OPC_E_INVALIDFILTER);
  list(b, OPCBROWSETYPE(7), u"", VT_EMPTY, 0, &hr);
  EXPECT_EQ(hr, E_INVALIDARG);

  // 1,500 children take several browse continuations: all are listed.
  ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, u"Many"), S_OK);
  const auto many = list(b, OPC_LEAF);
  ASSERT_EQ(many.size(), 1500u);
  EXPECT_EQ(many.front(), u"0000");
  EXPECT_EQ(list(b, OPC_FLAT, u"*.14#9").size(), 10u);
}

TEST_F(UaBridge, AnalogAndMultiStateProperties) {
  UaProperties p(session_);
  DWORD count = 0;
  opc::TaskOut<DWORD> ids;
  opc::TaskOut<LPWSTR> texts;
  opc::TaskOut<VARTYPE> types;
  ASSERT_EQ(p.QueryAvailableProperties(const_cast<LPWSTR>(u"ns=2;s=DA.Analog"), &count, ids.put(),
                                       texts.put(), types.put()),
            S_OK);
  const std::vector<DWORD> analog(ids.get(), ids.get() + count);
  EXPECT_THAT(analog, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105));
  for (DWORD i = 0; i < count; ++i) CoTaskMemFree(texts[i]);
  EXPECT_EQ(types[1], VT_R8);
  EXPECT_EQ(types[7], VT_ARRAY | VT_R8);

  std::vector<DWORD> wanted = analog;
  wanted.push_back(9999);
  opc::TaskOut<VARIANT> values;
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(p.GetItemProperties(const_cast<LPWSTR>(u"ns=2;s=DA.Analog"), DWORD(wanted.size()),
                                wanted.data(), values.put(), errors.put()),
            S_FALSE);
  std::vector<OleVariant> v;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    v.push_back(OleVariant::attach(values[i]));
    EXPECT_EQ(errors[i], i + 1 < wanted.size() ? S_OK : OPC_E_INVALID_PID) << wanted[i];
  }
  EXPECT_EQ(v[0], OleVariant(SHORT(VT_R8)));
  EXPECT_EQ(v[1], OleVariant(21.5));
  EXPECT_EQ(v[2], OleVariant(SHORT(OPC_QUALITY_GOOD)));
  EXPECT_EQ(v[3].vt(), VT_DATE);
  EXPECT_EQ(v[4], OleVariant(LONG(OPC_READABLE | OPC_WRITEABLE)));
  EXPECT_EQ(v[5].vt(), VT_R4);
  EXPECT_EQ(v[6], OleVariant(LONG(OPC_ANALOG)));
  EXPECT_EQ(v[7], OleVariant::array(VT_R8, {OleVariant(0.0), OleVariant(100.0)}));
  EXPECT_EQ(v[8], OleVariant(u"°C"));
  EXPECT_EQ(v[9], OleVariant(u"Boiler temperature"));
  EXPECT_EQ(v[10], OleVariant(100.0));
  EXPECT_EQ(v[11], OleVariant(0.0));
  EXPECT_EQ(v[12], OleVariant(110.0));
  EXPECT_EQ(v[13], OleVariant(-10.0));
  EXPECT_TRUE(v[14].isEmpty());

  // The multistate item: enumerated, its labels are a node of their own.
  DWORD euIds[] = {OPC_PROP_EUTYPE, OPC_PROP_EUINFO};
  ASSERT_EQ(p.GetItemProperties(const_cast<LPWSTR>(u"ns=2;s=DA.MultiState"), 2, euIds, values.put(),
                                errors.put()),
            S_OK);
  EXPECT_EQ(OleVariant::attach(values[0]), OleVariant(LONG(OPC_ENUMERATED)));
  EXPECT_EQ(OleVariant::attach(values[1]),
            OleVariant::array(
                VT_BSTR, {OleVariant(u"Stopped"), OleVariant(u"Running"), OleVariant(u"Fault")}));
  opc::TaskOut<LPWSTR> newIds;
  ASSERT_EQ(p.LookupItemIDs(const_cast<LPWSTR>(u"ns=2;s=DA.MultiState"), 2, euIds, newIds.put(),
                            errors.put()),
            S_FALSE);
  EXPECT_EQ(newIds[0], nullptr);
  EXPECT_EQ(errors[0], OPC_E_INVALID_PID);
  EXPECT_EQ(str(newIds[1]), u"ns=2;s=DA.MultiState-EnumStrings");
  CoTaskMemFree(newIds[1]);

  // Ids that are no variable's, malformed or unknown.
  for (auto [id, expected] : {std::pair{u"ns=2;s=Tree", OPC_E_UNKNOWNITEMID},
                              std::pair{u"ns=2;s=Nothing", OPC_E_UNKNOWNITEMID},
                              std::pair{u"ns=2;x=1", OPC_E_INVALIDITEMID}}) {
    EXPECT_EQ(p.QueryAvailableProperties(const_cast<LPWSTR>(id), &count, ids.put(), texts.put(),
                                         types.put()),
              expected);
    EXPECT_FALSE(ids);
  }
}

// What the server's scalars and arrays map to, checked against the data
// types the server declares, and written back as the nodes' own types.
TEST_F(UaBridge, ServerValuesMatchTheirCanonicalTypesAndWriteBack) {
  std::vector<ua::NodeId> nodes;
  for (const char* n : {"Boolean", "SByte", "Byte", "Int16", "UInt16", "Int32", "UInt32", "Int64",
                        "UInt64", "Float", "Double", "String", "DateTime", "Guid", "ByteString",
                        "NodeId", "StatusCode", "LocalizedText", "QualifiedName"}) {
    nodes.emplace_back(2, std::string("Scalar.") + n);
  }
  for (const char* n : {"Boolean", "Byte", "Int16", "Int32", "UInt32", "Float", "Double", "String",
                        "DateTime", "ByteString", "LocalizedText", "Empty"}) {
    nodes.emplace_back(2, std::string("Array.") + n);
  }
  std::vector<NodeInfo> infos;
  ASSERT_FALSE(ua::isBad(readNodeInfo(*session_, nodes, infos)));
  std::vector<ua::ReadValueId> reads(nodes.begin(), nodes.end());
  std::vector<ua::DataValue> values;
  ASSERT_FALSE(ua::isBad(session_->client.read(reads, values)));
  ASSERT_EQ(values.size(), nodes.size());
  std::vector<ua::WriteValue> writes;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(nodes[i].toString());
    ASSERT_EQ(infos[i].error, S_OK);
    EXPECT_EQ(infos[i].accessRights, DWORD(OPC_READABLE | OPC_WRITEABLE));
    ItemValue item = itemValueFromUa(values[i]);
    ASSERT_EQ(item.error, S_OK);
    EXPECT_EQ(item.value.vt(), infos[i].canonicalType);
    ua::WriteValue w;
    w.nodeId = nodes[i];
    ASSERT_EQ(
        uaFromVariant(item.value.get(), infos[i].builtinType, infos[i].valueRank, w.value.value),
        S_OK);
    writes.push_back(std::move(w));
  }
  // Types not known by number resolve along their supertypes.
  EXPECT_EQ(resolveBuiltinType(*session_, ua::NodeId(0, 884)), ua::BuiltinType::ExtensionObject);
  EXPECT_EQ(resolveBuiltinType(*session_, ua::NodeId(0, 12552)), ua::BuiltinType::Int32);
  EXPECT_EQ(resolveBuiltinType(*session_, ua::NodeId(2, "NoSuchType")), ua::BuiltinType::Variant);

  std::vector<ua::StatusCode> results;
  ASSERT_FALSE(ua::isBad(session_->client.write(writes, results)));
  ASSERT_EQ(results.size(), writes.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i], ua::status::Good) << nodes[i].toString();
  }
}

}  // namespace
}  // namespace veze6::uab
