#include "remotestubs_entry.h"

#include <capnp/dynamic.h>
#include <capnp/rpc-twoparty.h>
#include <capnp/serialize.h>
#include <kj/async-io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "opc/diag.h"
#include "opc/remote/host.h"
#include "opc/remote/remote.capnp.h"
#include "simulator/registration.h"

namespace veze6fuzz {

namespace {

namespace wire = opc::remote::wire;
using capnp::InterfaceSchema;

/// The host of the process and this thread's own event loop for the client.
struct Environment {
  Environment() {
    veze6::sim::registerSimulationServer();
    opc::remote::HostOptions options;
    options.port = 0;
    host = std::make_unique<opc::remote::Host>(options);
    if (host->listen() != S_OK) {
      std::fprintf(stderr, "fuzz: the host cannot listen: %s\n", host->errorText().c_str());
      std::abort();
    }
  }
  std::unique_ptr<opc::remote::Host> host;
  kj::AsyncIoContext io = kj::setupAsyncIo();
};

Environment& environment() {
  static Environment env;
  return env;
}

/// Every method of an interface and of the interfaces it extends.
std::vector<InterfaceSchema::Method> methodsOf(InterfaceSchema schema) {
  std::vector<InterfaceSchema::Method> methods;
  std::set<std::uint64_t> seen;
  std::vector<InterfaceSchema> todo{schema};
  while (!todo.empty()) {
    const auto s = todo.back();
    todo.pop_back();
    if (!seen.insert(s.getProto().getId()).second) continue;
    for (auto m : s.getMethods()) methods.push_back(m);
    for (auto super : s.getSuperclasses()) todo.push_back(super);
  }
  return methods;
}

InterfaceSchema schemaOf(wire::Kind kind) {
  switch (kind) {
    case wire::Kind::SERVER:
      return capnp::Schema::from<wire::ServerObject>();
    case wire::Kind::GROUP:
      return capnp::Schema::from<wire::GroupObject>();
    case wire::Kind::SERVER_LIST:
      return capnp::Schema::from<wire::ServerList>();
    case wire::Kind::ENUM_STRING:
      return capnp::Schema::from<wire::EnumString>();
    case wire::Kind::ENUM_UNKNOWN:
      return capnp::Schema::from<wire::EnumUnknown>();
    case wire::Kind::ENUM_GUID:
      return capnp::Schema::from<wire::EnumGuid>();
    case wire::Kind::ENUM_ITEM_ATTRIBUTES:
      return capnp::Schema::from<wire::EnumItemAttributes>();
    case wire::Kind::CONNECTION_POINT:
      return capnp::Schema::from<wire::ConnectionPoint>();
    case wire::Kind::ENUM_CONNECTION_POINTS:
      return capnp::Schema::from<wire::EnumConnectionPoints>();
  }
  return capnp::Schema::from<wire::Unknown>();
}

struct Target {
  capnp::Capability::Client cap;
  std::vector<InterfaceSchema::Method> methods;
};

/// Objects an answer hands out join the targets.
void collectObjects(capnp::DynamicStruct::Reader answer, std::vector<Target>& targets) {
  const auto refId = capnp::Schema::from<wire::ObjectRef>().getProto().getId();
  for (auto field : answer.getSchema().getFields()) {
    if (!answer.has(field)) continue;
    const auto type = field.getType();
    if (!type.isStruct() || type.asStruct().getProto().getId() != refId) continue;
    const auto ref = answer.get(field).as<wire::ObjectRef>();
    if (!ref.hasObject() || targets.size() >= 16) continue;
    targets.push_back({ref.getObject(), methodsOf(schemaOf(ref.getKind()))});
  }
}

constexpr auto kWaitLimit = std::chrono::seconds(10);

void waitForHostToLetGo(const opc::diag::Counters& baseline) {
  auto& env = environment();
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (env.host->connectionCount() != 0 || opc::diag::snapshot() != baseline) {
    if (std::chrono::steady_clock::now() > deadline) {
      const auto now = opc::diag::snapshot();
      std::fprintf(stderr,
                   "fuzz: the host kept what the client held: connections %zu, objects %lld, "
                   "task memory %lld, strings %lld, globals %lld, safe arrays %lld\n",
                   env.host->connectionCount(),
                   static_cast<long long>(now.objects - baseline.objects),
                   static_cast<long long>(now.taskAllocations - baseline.taskAllocations),
                   static_cast<long long>(now.bstrs - baseline.bstrs),
                   static_cast<long long>(now.globals - baseline.globals),
                   static_cast<long long>(now.safeArrays - baseline.safeArrays));
      std::abort();
    }
    // The host runs on its own thread; this is a fuzzer, not a test.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace

int RunRemoteStubs(const std::uint8_t* data, std::size_t size) {
  auto& env = environment();
  auto& ws = env.io.waitScope;
  const auto baseline = opc::diag::snapshot();
  int answered = 0;
  {
    auto address =
        env.io.provider->getNetwork().parseAddress("127.0.0.1", env.host->port()).wait(ws);
    auto stream = address->connect().wait(ws);
    capnp::TwoPartyClient rpc(*stream);
    auto host = rpc.bootstrap().castAs<wire::Host>();
    std::vector<Target> targets;
    targets.push_back({host, methodsOf(capnp::Schema::from<wire::Host>())});
    {
      auto create = host.createInstanceRequest();
      auto clsid = create.initClsid();
      const GUID& c = veze6::sim::CLSID_Veze6Simulation;
      clsid.setData1(c.Data1);
      clsid.setData2(c.Data2);
      clsid.setData3(c.Data3);
      std::uint64_t d4 = 0;
      for (int i = 7; i >= 0; --i) d4 = d4 << 8 | c.Data4[i];
      clsid.setData4(d4);
      create.initIids(0);
      auto created = create.send().wait(ws);
      collectObjects(capnp::toDynamic(wire::Host::CreateInstanceResults::Reader(created)), targets);
    }

    std::size_t at = 0;
    while (at + 4 <= size) {
      auto& target = targets[data[at] % targets.size()];
      const auto method = target.methods[data[at + 1] % target.methods.size()];
      const std::size_t length =
          std::min<std::size_t>(data[at + 2] | data[at + 3] << 8, size - at - 4);
      at += 4;
      auto words = kj::heapArray<capnp::word>((length + 7) / 8);
      std::memset(words.begin(), 0, words.asBytes().size());
      std::memcpy(words.begin(), data + at, length);
      at += length;

      auto request = target.cap.typelessRequest(method.getContainingInterface().getProto().getId(),
                                                method.getIndex(), nullptr);
      capnp::ReaderOptions limits;
      limits.traversalLimitInWords = 4096;
      limits.nestingLimit = 16;
      KJ_IF_MAYBE (bad, kj::runCatchingExceptions([&] {
                     capnp::FlatArrayMessageReader params(words, limits);
                     request.set(params.getRoot<capnp::AnyPointer>());
                   })) {
        continue;  // bytes that are no message at all never leave the client
      }
      KJ_IF_MAYBE (failed, kj::runCatchingExceptions([&] {
                     auto response = request.send().wait(ws);
                     ++answered;
                     collectObjects(response.getAs<capnp::DynamicStruct>(method.getResultType()),
                                    targets);
                   })) {
        if (failed->getType() == kj::Exception::Type::DISCONNECTED) break;
      }
    }
  }
  waitForHostToLetGo(baseline);
  return answered;
}

std::vector<std::vector<std::uint8_t>> RemoteStubSeeds() {
  std::vector<std::vector<std::uint8_t>> seeds;
  // One record per call; target 1 is the server object.
  const auto record = [](std::vector<std::uint8_t>& out, std::uint8_t target, std::uint8_t method,
                         capnp::MessageBuilder& params) {
    const auto words = capnp::messageToFlatArray(params);
    const auto bytes = words.asBytes();
    out.insert(out.end(), {target, method, static_cast<std::uint8_t>(bytes.size()),
                           static_cast<std::uint8_t>(bytes.size() >> 8)});
    out.insert(out.end(), bytes.begin(), bytes.end());
  };
  const auto methodIndex = [](const char* name) {
    const auto methods = methodsOf(capnp::Schema::from<wire::ServerObject>());
    for (std::size_t i = 0; i < methods.size(); ++i) {
      if (methods[i].getProto().getName() == kj::StringPtr(name))
        return static_cast<std::uint8_t>(i);
    }
    return std::uint8_t{0};
  };
  const auto text = [](const char16_t* s) {
    const auto n = std::char_traits<char16_t>::length(s);
    return kj::heapArray<kj::byte>(reinterpret_cast<const kj::byte*>(s), n * 2);
  };
  {
    std::vector<std::uint8_t> seed;
    capnp::MallocMessageBuilder m;
    auto p = m.initRoot<wire::OpcServer::AddGroupParams>();
    auto name = text(u"g");
    p.setName(name);
    p.setActive(true);
    p.setRequestedUpdateRate(100);
    record(seed, 1, methodIndex("addGroup"), m);
    capnp::MallocMessageBuilder status;
    status.initRoot<wire::OpcServer::GetStatusParams>();
    record(seed, 1, methodIndex("getStatus"), status);
    seeds.push_back(seed);
  }
  {
    std::vector<std::uint8_t> seed;
    capnp::MallocMessageBuilder m;
    auto p = m.initRoot<wire::OpcItemProperties::GetItemPropertiesParams>();
    auto id = text(u"Random.Int4");
    p.setItemId(id);
    auto ids = p.initIds(3);
    ids.set(0, 1);
    ids.set(1, 2);
    ids.set(2, 5000);
    record(seed, 1, methodIndex("getItemProperties"), m);
    capnp::MallocMessageBuilder q;
    q.initRoot<wire::OpcItemProperties::QueryAvailablePropertiesParams>().setItemId(id);
    record(seed, 1, methodIndex("queryAvailableProperties"), q);
    seeds.push_back(seed);
  }
  {
    std::vector<std::uint8_t> seed;
    capnp::MallocMessageBuilder m;
    auto p = m.initRoot<wire::OpcBrowseServerAddressSpace::BrowseOpcItemIdsParams>();
    p.setFilterType(3);
    auto empty = text(u"");
    p.setFilterCriteria(empty);
    record(seed, 1, methodIndex("browseOpcItemIds"), m);
    // The enumerator it hands out is target 2.
    capnp::MallocMessageBuilder next;
    next.initRoot<wire::EnumString::NextParams>().setCount(4);
    record(seed, 2, 0, next);
    seeds.push_back(seed);
  }
  {
    std::vector<std::uint8_t> seed;
    capnp::MallocMessageBuilder m;
    auto p = m.initRoot<wire::ConnectionPointContainer::FindConnectionPointParams>();
    p.initIid().setData1(0xF31DFDE1);
    record(seed, 1, methodIndex("findConnectionPoint"), m);
    capnp::MallocMessageBuilder c;
    auto name = text(u"fuzz");
    c.initRoot<wire::OpcCommon::SetClientNameParams>().setName(name);
    record(seed, 1, methodIndex("setClientName"), c);
    seeds.push_back(seed);
  }
  return seeds;
}

}  // namespace veze6fuzz
