// The group proxy against a host that answers wrongly: a fake host, served
// on its own thread and event loop, hands out a group whose answers are
// short, malformed or contradictory. Every such call fails with a code and
// leaves nothing allocated; the proxy never reads past what arrived.
#include <capnp/rpc-twoparty.h>
#include <gtest/gtest.h>
#include <kj/async-io.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "common/leakcheck.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/remote/marshal_p.h"
#include "opc/remote/remote.capnp.h"
#include "opc/taskmem.h"

namespace wire = opc::remote::wire;

namespace {

constexpr HRESULT kInvalidData = opc::remote::RPC_E_INVALID_DATA;
using opc::remote::setGuid;

void setRef(wire::ObjectRef::Builder ref, wire::Unknown::Client object, wire::Kind kind,
            std::initializer_list<IID> iids) {
  ref.setObject(std::move(object));
  ref.setKind(kind);
  auto list = ref.initIids(unsigned(iids.size()));
  unsigned i = 0;
  for (const IID& iid : iids) setGuid(list[i++], iid);
}

const kj::ArrayPtr<const kj::byte> kOdd = kj::StringPtr("odd").asBytes();
const kj::ArrayPtr<const kj::byte> kWideA = kj::arrayPtr(u"a", 1).asBytes();

void spoil(capnp::List<capnp::Data>::Builder items) {
  items.set(0, kWideA);
  items.set(1, kOdd);
}
void spoil(capnp::List<wire::ItemAttributes>::Builder items) {
  items[0].setItemId(kWideA);
  items[1].setItemId(kOdd);
}

/// An enumerator whose second element does not decode and whose clone
/// succeeds without an enumerator.
template <class Cap>
class WrongEnum final : public Cap::Server {
 protected:
  kj::Promise<void> next(typename Cap::Server::NextContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    spoil(r.initItems(2));
    return kj::READY_NOW;
  }
  kj::Promise<void> clone(typename Cap::Server::CloneContext context) override {
    context.getResults().setHr(S_FALSE);
    return kj::READY_NOW;
  }
};

/// A group that gets every answer a little wrong.
class WrongGroup final : public wire::GroupObject::Server {
 protected:
  kj::Promise<void> addItems(AddItemsContext context) override {
    const unsigned n = context.getParams().getItems().size();
    auto r = context.getResults();
    r.setHr(S_OK);
    auto results = r.initResults(n - 1);  // one short
    for (auto result : results) result.setBlob(kj::StringPtr("blob").asBytes());
    r.initErrors(n);
    return kj::READY_NOW;
  }
  kj::Promise<void> validateItems(ValidateItemsContext context) override {
    const unsigned n = context.getParams().getItems().size();
    auto r = context.getResults();
    r.setHr(S_OK);
    for (auto result : r.initResults(n)) result.setBlob(kj::StringPtr("blob").asBytes());
    r.initErrors(n + 1);  // one too many
    return kj::READY_NOW;
  }
  kj::Promise<void> removeItems(RemoveItemsContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    r.initErrors(0);  // none at all
    return kj::READY_NOW;
  }
  kj::Promise<void> read(wire::OpcSyncIo::Server::ReadContext context) override {
    const unsigned n = context.getParams().getServerHandles().size();
    auto r = context.getResults();
    r.setHr(S_OK);
    r.initErrors(n);
    auto states = r.initStates(n);
    for (auto s : states) s.initValue().setText(kj::StringPtr("text").asBytes());
    for (auto s : states) s.getValue().setVt(VT_BSTR);
    states[n - 1].getValue().setText(kj::StringPtr("odd").asBytes());  // 3 bytes
    return kj::READY_NOW;
  }
  kj::Promise<void> getState(GetStateContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    r.initState().setName(kj::StringPtr("odd").asBytes());
    return kj::READY_NOW;
  }
  kj::Promise<void> createEnumerator(CreateEnumeratorContext context) override {
    context.getResults().setHr(S_OK);  // the first time without an enumerator
    if (enumerators_++) {
      setRef(context.getResults().initEnumerator(), kj::heap<WrongEnum<wire::EnumItemAttributes>>(),
             wire::Kind::ENUM_ITEM_ATTRIBUTES, {IID_IEnumOPCItemAttributes});
    }
    return kj::READY_NOW;
  }

 private:
  int enumerators_ = 0;
};

class FakeServer final : public wire::ServerObject::Server {
 protected:
  kj::Promise<void> addGroup(AddGroupContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    r.setServerGroup(1);
    setRef(r.initGroup(), kj::heap<WrongGroup>(), wire::Kind::GROUP,
           {IID_IOPCItemMgt, IID_IOPCSyncIO, IID_IOPCGroupStateMgt});
    return kj::READY_NOW;
  }
  kj::Promise<void> removeGroup(RemoveGroupContext context) override {
    context.getResults().setHr(S_OK);
    return kj::READY_NOW;
  }
  kj::Promise<void> getItemProperties(GetItemPropertiesContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    r.initValues(context.getParams().getIds().size() - 1);  // one short
    r.initErrors(context.getParams().getIds().size());
    return kj::READY_NOW;
  }
  kj::Promise<void> lookupItemIds(LookupItemIdsContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    spoil(r.initItemIds(2));
    r.initErrors(2);
    return kj::READY_NOW;
  }
  kj::Promise<void> queryAvailableProperties(QueryAvailablePropertiesContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    auto properties = r.initProperties(2);
    properties[0].setDescription(kWideA);
    properties[1].setDescription(kOdd);
    return kj::READY_NOW;
  }
  kj::Promise<void> browseOpcItemIds(BrowseOpcItemIdsContext context) override {
    context.getResults().setHr(S_OK);  // the first time without an enumerator
    if (enumerators_++) {
      setRef(context.getResults().initEnumerator(), kj::heap<WrongEnum<wire::EnumString>>(),
             wire::Kind::ENUM_STRING, {IID_IEnumString});
    }
    return kj::READY_NOW;
  }

 private:
  int enumerators_ = 0;
};

class FakeHost final : public wire::Host::Server {
 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    auto r = context.getResults();
    r.setHr(S_OK);
    auto results = r.initResults(context.getParams().getIids().size());
    for (unsigned i = 0; i < results.size(); ++i) results.set(i, S_OK);
    setRef(r.initObject(), kj::heap<FakeServer>(), wire::Kind::SERVER,
           {IID_IOPCServer, IID_IOPCItemProperties, IID_IOPCBrowseServerAddressSpace});
    return kj::READY_NOW;
  }
  kj::Promise<void> hostName(HostNameContext context) override {
    context.getResults().setName("fake");
    return kj::READY_NOW;
  }
};

/// Serves FakeHost on loopback from its own thread until destroyed.
class FakeHostThread {
 public:
  FakeHostThread() {
    EXPECT_EQ(pipe(stop_), 0);
    std::promise<std::uint16_t> port;
    auto listening = port.get_future();
    thread_ = std::thread([this, &port] {
      auto io = kj::setupAsyncIo();
      auto address = io.provider->getNetwork().parseAddress("127.0.0.1", 0).wait(io.waitScope);
      auto listener = address->listen();
      port.set_value(std::uint16_t(listener->getPort()));
      capnp::TwoPartyServer server(kj::heap<FakeHost>());
      auto serving = server.listen(*listener);
      auto stop = io.lowLevelProvider->wrapInputFd(stop_[0]);
      kj::byte b = 0;
      stop->read(&b, 1).exclusiveJoin(kj::mv(serving)).wait(io.waitScope);
    });
    port_ = listening.get();
  }
  ~FakeHostThread() {
    EXPECT_EQ(write(stop_[1], "x", 1), 1);
    thread_.join();
    close(stop_[0]);
    close(stop_[1]);
  }
  std::uint16_t port() const { return port_; }

 private:
  int stop_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread thread_;
};

class GroupProxyTest : public veze6::test::LeakCheckedTest {
 protected:
  /// The server object's per-property answers and enumerators, all wrong.
  static void checkServerAnswers(const ComPtr<IOPCServer>& server) {
    const auto properties = server.as<IOPCItemProperties>();
    ASSERT_TRUE(properties);
    DWORD ids[2] = {1, 2};
    VARIANT* values = reinterpret_cast<VARIANT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(properties->GetItemProperties(const_cast<LPWSTR>(u"i"), 2, ids, &values, &errors),
              kInvalidData);
    EXPECT_EQ(values, nullptr);
    EXPECT_EQ(errors, nullptr);
    LPWSTR* itemIds = reinterpret_cast<LPWSTR*>(1);
    EXPECT_EQ(properties->LookupItemIDs(const_cast<LPWSTR>(u"i"), 2, ids, &itemIds, &errors),
              kInvalidData);
    EXPECT_EQ(itemIds, nullptr);
    DWORD count = 1;
    DWORD* propertyIds = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_EQ(properties->QueryAvailableProperties(const_cast<LPWSTR>(u"i"), &count, &propertyIds,
                                                   &texts, &types),
              kInvalidData);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(texts, nullptr);

    ComPtr<IEnumString> strings;
    const auto browse = server.as<IOPCBrowseServerAddressSpace>();
    EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, nullptr, VT_EMPTY, 0, strings.put()), kInvalidData)
        << "a success without the enumerator";
    EXPECT_FALSE(strings);
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, nullptr, VT_EMPTY, 0, strings.put()), S_OK);
    LPOLESTR got[2] = {};
    ULONG fetched = 1;
    EXPECT_EQ(strings->Next(2, got, &fetched), kInvalidData);
    EXPECT_EQ(fetched, 0u);
    ComPtr<IEnumString> copy;
    EXPECT_EQ(strings->Clone(copy.put()), kInvalidData);
    EXPECT_FALSE(copy);
  }
};

TEST_F(GroupProxyTest, WrongAnswersAreFailuresThatLeaveNothingAllocated) {
  FakeHostThread fake;
  {
    std::u16string name = u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(fake.port()));
    COSERVERINFO info{0, name.data(), nullptr, 0};
    MULTI_QI qi{&IID_IOPCServer, nullptr, S_OK};
    ASSERT_EQ(CoCreateInstanceEx(GUID{0x1, 0, 0, {}}, nullptr, 0, &info, 1, &qi), S_OK);
    const auto server = ComPtr<IOPCServer>::attach(static_cast<IOPCServer*>(qi.pItf));
    checkServerAnswers(server);
    OPCHANDLE serverGroup = 0;
    DWORD rate = 0;
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(server->AddGroup(u"g", TRUE, 100, 1, nullptr, nullptr, 0, &serverGroup, &rate,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put())),
              S_OK);
    ASSERT_TRUE(items);
    EXPECT_FALSE(items.as<IOPCAsyncIO2>()) << "only what the host listed";

    OPCITEMDEF defs[2] = {};
    defs[0].szItemID = const_cast<LPWSTR>(u"a");
    defs[1].szItemID = const_cast<LPWSTR>(u"b");
    OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(items->AddItems(2, defs, &results, &errors), kInvalidData);
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(items->ValidateItems(2, defs, FALSE, &results, &errors), kInvalidData);
    EXPECT_EQ(results, nullptr);
    OPCHANDLE handles[2] = {1, 2};
    EXPECT_EQ(items->RemoveItems(2, handles, &errors), kInvalidData);
    EXPECT_EQ(errors, nullptr);
    ComPtr<IUnknown> enumerator;
    EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.put()), kInvalidData);
    ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.put()), S_OK);
    const auto attributes = enumerator.as<IEnumOPCItemAttributes>();
    OPCITEMATTRIBUTES* fetchedItems = reinterpret_cast<OPCITEMATTRIBUTES*>(1);
    ULONG count = 1;
    EXPECT_EQ(attributes->Next(2, &fetchedItems, &count), kInvalidData);
    EXPECT_EQ(fetchedItems, nullptr);
    EXPECT_EQ(count, 0u);
    ComPtr<IEnumOPCItemAttributes> copy;
    EXPECT_EQ(attributes->Clone(copy.put()), kInvalidData) << "a success without the copy";

    OPCITEMSTATE* states = reinterpret_cast<OPCITEMSTATE*>(1);
    EXPECT_EQ(items.as<IOPCSyncIO>()->Read(OPC_DS_CACHE, 2, handles, &states, &errors),
              kInvalidData)
        << "a value that does not decode";
    EXPECT_EQ(states, nullptr);
    EXPECT_EQ(errors, nullptr);

    DWORD updateRate = 0;
    BOOL active = FALSE;
    LPWSTR groupName = reinterpret_cast<LPWSTR>(1);
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE client = 0, serverHandle = 0;
    EXPECT_EQ(items.as<IOPCGroupStateMgt>()->GetState(&updateRate, &active, &groupName, &bias,
                                                      &deadband, &lcid, &client, &serverHandle),
              kInvalidData);
    EXPECT_EQ(groupName, nullptr);
  }
}

}  // namespace
