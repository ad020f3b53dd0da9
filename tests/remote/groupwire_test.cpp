// A group's stub against a client that does not play by the rules: the test
// speaks the wire form itself, on its own event loop, to a host in this
// process, and sends arguments no proxy would send. Each is refused with
// E_INVALIDARG (or the server's own per-item answer), nothing crashes or
// leaks, and the group keeps serving.
#include <capnp/rpc-twoparty.h>
#include <gtest/gtest.h>
#include <kj/async-io.h>

#include <cstring>

#include "hostfixture.h"
#include "opc/OPCDA.h"
#include "opc/remote/host.h"
#include "opc/remote/marshal_p.h"
#include "opc/remote/remote.capnp.h"
#include "simulator/registration.h"
#include "simulator/simulator.h"

namespace wire = opc::remote::wire;
namespace sim = veze6::sim;
using opc::remote::setGuid;

namespace {

/// A raw connection to the host on this thread's own event loop.
class GroupWireTest : public veze6::test::InProcessHostTest {
 protected:
  void SetUp() override {
    InProcessHostTest::SetUp();
    auto address = io.provider->getNetwork().parseAddress("127.0.0.1", host->port()).wait(ws());
    stream = address->connect().wait(ws());
    rpc = kj::heap<capnp::TwoPartyClient>(*stream);

    auto create = rpc->bootstrap().castAs<wire::Host>().createInstanceRequest();
    setGuid(create.initClsid(), sim::CLSID_Veze6Simulation);
    setGuid(create.initIids(1)[0], IID_IOPCServer);
    auto created = create.send().wait(ws());
    ASSERT_EQ(created.getHr(), S_OK);
    auto server = created.getObject().getObject().castAs<wire::OpcServer>();
    auto add = server.addGroupRequest();
    add.setName(opc::remote::wideData(u"g"));
    add.setActive(true);
    add.setRequestedUpdateRate(100);
    setGuid(add.initIid(), IID_IOPCItemMgt);
    auto added = add.send().wait(ws());
    ASSERT_EQ(added.getHr(), S_OK);
    group = added.getGroup().getObject().castAs<wire::GroupObject>();

    // Two good items to address.
    auto items = itemMgt().addItemsRequest();
    auto defs = items.initItems(2);
    defs[0].setItemId(opc::remote::wideData(u"Writable.Int4"));
    defs[1].setItemId(opc::remote::wideData(u"Static.Int4"));
    auto result = items.send().wait(ws());
    ASSERT_EQ(result.getHr(), S_OK);
    for (auto r : result.getResults()) handles.push_back(r.getServerHandle());
  }

  void TearDown() override {
    w.reset();
    EXPECT_TRUE(veze6::test::pumpUntil([] { return sim::liveServerCount() == 0; }));
    InProcessHostTest::TearDown();
  }

  kj::WaitScope& ws() { return io.waitScope; }
  wire::OpcItemMgt::Client itemMgt() { return group.castAs<wire::OpcItemMgt>(); }
  wire::OpcSyncIo::Client syncIo() { return group.castAs<wire::OpcSyncIo>(); }

  template <class List>
  void putHandles(List list) {
    for (unsigned i = 0; i < list.size(); ++i) list.set(i, handles[i % handles.size()]);
  }

  /// This thread's event loop and the connection (their destructors may
  /// throw, so the fixture holds them through one owner).
  struct Wire {
    kj::AsyncIoContext io = kj::setupAsyncIo();
    kj::Own<kj::AsyncIoStream> stream;
    kj::Own<capnp::TwoPartyClient> rpc;
    wire::GroupObject::Client group = nullptr;
  };

  std::unique_ptr<Wire> w = std::make_unique<Wire>();
  kj::AsyncIoContext& io = w->io;
  kj::Own<kj::AsyncIoStream>& stream = w->stream;
  kj::Own<capnp::TwoPartyClient>& rpc = w->rpc;
  wire::GroupObject::Client& group = w->group;
  std::vector<OPCHANDLE> handles;
};

TEST_F(GroupWireTest, MalformedArgumentsAreRefusedAndTheGroupKeepsServing) {
  {  // an item id of an odd number of bytes
    auto request = itemMgt().addItemsRequest();
    request.initItems(1)[0].setItemId(
        capnp::Data::Reader(reinterpret_cast<const kj::byte*>("abc"), 3));
    EXPECT_EQ(request.send().wait(ws()).getHr(), E_INVALIDARG);
  }
  {  // fewer values than handles, synchronously and asynchronously
    auto request = syncIo().writeRequest();
    putHandles(request.initServerHandles(2));
    request.initValues(1)[0].setVt(VT_I4);
    EXPECT_EQ(request.send().wait(ws()).getHr(), E_INVALIDARG);
    auto async = group.castAs<wire::OpcAsyncIo2>().writeRequest();
    putHandles(async.initServerHandles(2));
    EXPECT_EQ(async.send().wait(ws()).getHr(), E_INVALIDARG);
  }
  {  // a value whose form contradicts its type
    auto request = syncIo().writeRequest();
    putHandles(request.initServerHandles(1));
    auto value = request.initValues(1)[0];
    value.setVt(VT_ARRAY | VT_I4);
    value.initArray().setRaw(capnp::Data::Reader(reinterpret_cast<const kj::byte*>("abcde"), 5));
    EXPECT_EQ(request.send().wait(ws()).getHr(), E_INVALIDARG);
  }
  {  // lists whose lengths disagree
    auto clients = itemMgt().setClientHandlesRequest();
    putHandles(clients.initServerHandles(2));
    clients.initClientHandles(1);
    EXPECT_EQ(clients.send().wait(ws()).getHr(), E_INVALIDARG);
    auto types = itemMgt().setDatatypesRequest();
    putHandles(types.initServerHandles(1));
    types.initDataTypes(3);
    EXPECT_EQ(types.send().wait(ws()).getHr(), E_INVALIDARG);
  }
  {  // an unknown handle is the server's per-item answer, as in process
    auto request = syncIo().readRequest();
    request.setSource(OPC_DS_CACHE);
    request.initServerHandles(2).set(0, 0xDEADBEEF);
    request.getServerHandles().set(1, handles[1]);
    auto r = request.send().wait(ws());
    EXPECT_EQ(r.getHr(), S_FALSE);
    const auto states = r.getItemStates();
    ASSERT_EQ(states.getErrors().size(), 8u);
    HRESULT errors[2];
    std::memcpy(errors, states.getErrors().begin(), sizeof errors);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[1], S_OK);
    std::uint64_t value = 0;
    std::memcpy(&value, states.getScalars().begin() + 8, sizeof value);
    EXPECT_EQ(value, 123456u);
  }
  {  // formats only by the names this process knows; an advise needs a sink
    auto request = group.castAs<wire::DataObject>().dAdviseRequest();
    request.initFormat().setFormat("OPCSTMFORMATDATATIME");
    request.getFormat().setTymed(TYMED_HGLOBAL);
    EXPECT_EQ(request.send().wait(ws()).getHr(), E_INVALIDARG);
    auto query = group.castAs<wire::DataObject>().queryGetDataRequest();
    query.initFormat().setFormat("NoSuchFormat.Anywhere");
    EXPECT_EQ(query.send().wait(ws()).getHr(), DV_E_FORMATETC);
  }
  {  // an enumerator the wire has no form for
    auto request = itemMgt().createEnumeratorRequest();
    setGuid(request.initIid(), IID_IEnumString);
    EXPECT_EQ(request.send().wait(ws()).getHr(), E_NOINTERFACE);
  }
  // Still serving.
  auto write = syncIo().writeRequest();
  putHandles(write.initServerHandles(1));
  auto value = write.initValues(1)[0];
  value.setVt(VT_I4);
  value.setBits(42);
  EXPECT_EQ(write.send().wait(ws()).getHr(), S_OK);
}

}  // namespace
