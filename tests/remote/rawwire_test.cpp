// Requests a proxy never sends, straight on the wire to a host: malformed
// arguments and unknown handles are answered with failure codes, and the
// host goes on serving.
#include <capnp/ez-rpc.h>
#include <gtest/gtest.h>

#include <thread>

#include "hostfixture.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/remote/marshal_p.h"

namespace veze6::test {
namespace {

namespace wire = opc::remote::wire;
using opc::remote::setGuid;

class RawWireTest : public InProcessHostTest {
 protected:
  /// Runs f with the host's bootstrap capability on a thread with an event
  /// loop of its own (the test's client side).
  template <class F>
  void withHost(F f) {
    std::thread([&] {
      capnp::EzRpcClient client("127.0.0.1", host->port());
      auto bootstrap = client.getMain<wire::Host>();
      f(bootstrap, client.getWaitScope());
    }).join();
  }

  static wire::ServerObject::Client createServer(wire::Host::Client& host, kj::WaitScope& ws) {
    auto req = host.createInstanceRequest();
    setGuid(req.initClsid(), sim::CLSID_Veze6Simulation);
    setGuid(req.initIids(1)[0], IID_IOPCServer);
    auto r = req.send().wait(ws);
    EXPECT_EQ(r.getHr(), S_OK);
    return r.getObject().getObject().castAs<wire::ServerObject>();
  }
};

const capnp::byte kOdd[3] = {'a', 0, 'b'};

TEST_F(RawWireTest, MalformedArgumentsAndUnknownHandlesFail) {
  withHost([&](wire::Host::Client& bootstrap, kj::WaitScope& ws) {
    auto server = createServer(bootstrap, ws);

    auto name = server.setClientNameRequest();
    name.setName(capnp::Data::Reader(kOdd, 3));
    EXPECT_EQ(name.send().wait(ws).getHr(), E_INVALIDARG);

    auto props = server.getItemPropertiesRequest();
    props.setItemId(capnp::Data::Reader(kOdd, 3));
    props.initIds(2);
    auto answer = props.send().wait(ws);
    EXPECT_EQ(answer.getHr(), E_INVALIDARG);
    EXPECT_EQ(answer.getValues().size(), 0u);

    auto remove = server.removeGroupRequest();
    remove.setServerGroup(0xDEAD);
    EXPECT_TRUE(FAILED(remove.send().wait(ws).getHr()));

    auto unknownItem = server.getItemPropertiesRequest();
    unknownItem.setItemId(opc::remote::wideData(u"No.Such.Item"));
    unknownItem.initIds(1).set(0, OPC_PROP_VALUE);
    EXPECT_TRUE(FAILED(unknownItem.send().wait(ws).getHr()));

    auto browse = server.browseOpcItemIdsRequest();
    browse.setFilterType(OPC_FLAT);
    auto strings = browse.send().wait(ws).getEnumerator().getObject().castAs<wire::EnumString>();
    auto huge = strings.nextRequest();
    huge.setCount(0xFFFFFFFF);
    EXPECT_EQ(huge.send().wait(ws).getHr(), E_INVALIDARG);
    auto few = strings.nextRequest();
    few.setCount(3);
    EXPECT_EQ(few.send().wait(ws).getItems().size(), 3u);

    auto find = server.findConnectionPointRequest();
    setGuid(find.initIid(), IID_IOPCShutdown);
    auto point = find.send().wait(ws).getPoint().getObject().castAs<wire::ConnectionPoint>();
    auto unadvise = point.unadviseRequest();
    unadvise.setCookie(999);
    EXPECT_EQ(unadvise.send().wait(ws).getHr(), CONNECT_E_NOCONNECTION);

    // Still serving.
    EXPECT_EQ(server.getStatusRequest().send().wait(ws).getHr(), S_OK);
  });
}

TEST_F(RawWireTest, ServerListRefusesUnknownClassesAndMalformedNames) {
  withHost([&](wire::Host::Client& bootstrap, kj::WaitScope& ws) {
    auto req = bootstrap.createInstanceRequest();
    setGuid(req.initClsid(), CLSID_OPCServerList);
    setGuid(req.initIids(2)[0], IID_IOPCServerList);
    setGuid(req.getIids()[1], IID_IOPCServer);
    auto created = req.send().wait(ws);
    EXPECT_EQ(created.getHr(), CO_S_NOTALLINTERFACES);
    ASSERT_EQ(created.getResults().size(), 2u);
    EXPECT_EQ(created.getResults()[1], E_NOINTERFACE);
    auto list = created.getObject().getObject().castAs<wire::ServerList>();

    auto details = list.getClassDetailsRequest();
    setGuid(details.initClsid(), GUID{1, 2, 3, {4}});
    EXPECT_TRUE(FAILED(details.send().wait(ws).getHr()));

    auto progId = list.clsidFromProgIdRequest();
    progId.setProgId(capnp::Data::Reader(kOdd, 3));
    EXPECT_EQ(progId.send().wait(ws).getHr(), E_INVALIDARG);
  });
}

}  // namespace
}  // namespace veze6::test
