#include <iterator>

#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"
#include "opc/remote/session_p.h"

namespace opc::remote {

const std::vector<IID>& kindInterfaces(wire::Kind kind) {
  // In the order of wire::Kind.
  static const std::vector<IID> byKind[] = {
      {IID_IOPCServer, IID_IOPCCommon, IID_IOPCServerPublicGroups, IID_IOPCItemProperties,
       IID_IOPCBrowseServerAddressSpace, IID_IConnectionPointContainer},
      {IID_IOPCGroupStateMgt, IID_IOPCPublicGroupStateMgt, IID_IOPCItemMgt, IID_IOPCSyncIO,
       IID_IOPCAsyncIO, IID_IOPCAsyncIO2, IID_IDataObject, IID_IConnectionPointContainer},
      {IID_IOPCServerList},
      {IID_IEnumString},
      {IID_IEnumUnknown},
      {IID_IEnumGUID},
      {IID_IEnumOPCItemAttributes},
      {IID_IConnectionPoint},
      {IID_IEnumConnectionPoints},
  };
  static_assert(std::size(byKind) == std::size_t(wire::Kind::ENUM_CONNECTION_POINTS) + 1);
  static const std::vector<IID> none;
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(byKind) ? byKind[index] : none;
}

std::vector<IID> listedInterfaces(wire::ObjectRef::Reader ref) {
  // Only what the kind may implement: a host cannot make a proxy claim an
  // interface it has no methods for.
  const auto& possible = kindInterfaces(ref.getKind());
  std::vector<IID> out;
  for (const auto g : ref.getIids()) {
    const IID iid = guidFrom(g);
    if (std::find(possible.begin(), possible.end(), iid) != possible.end()) out.push_back(iid);
  }
  return out;
}

HRESULT proxyFromRef(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                     REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!ref.hasObject()) return RPC_E_INVALID_DATA;
  switch (ref.getKind()) {
    case wire::Kind::SERVER:
      return makeServerProxy(session, ref, iid, ppv);
    case wire::Kind::GROUP:
      return makeGroupProxy(session, ref, iid, ppv);
    case wire::Kind::ENUM_ITEM_ATTRIBUTES:
      return makeEnumItemAttributesProxy(session, ref, iid, ppv);
    case wire::Kind::SERVER_LIST:
      return makeServerListProxy(session, ref, iid, ppv);
    case wire::Kind::CONNECTION_POINT:
      return makeConnectionPointProxy(session, ref, iid, ppv);
    case wire::Kind::ENUM_STRING:
    case wire::Kind::ENUM_UNKNOWN:
    case wire::Kind::ENUM_GUID:
    case wire::Kind::ENUM_CONNECTION_POINTS:
      return makeEnumProxy(session, ref, iid, ppv);
  }
  return RPC_E_INVALID_DATA;
}

void refFromObject(const std::shared_ptr<HostConnection>& connection, ComPtr<IUnknown> object,
                   wire::Kind kind, wire::ObjectRef::Builder ref, std::function<void()> onRelease) {
  ref.setKind(kind);
  if (!object) return;
  std::vector<IID> implemented;
  for (const IID& iid : kindInterfaces(kind)) {
    ComPtr<IUnknown> probe;
    if (SUCCEEDED(object->QueryInterface(iid, probe.putVoid())) && probe)
      implemented.push_back(iid);
  }
  auto iids = ref.initIids(static_cast<capnp::uint>(implemented.size()));
  for (std::size_t i = 0; i < implemented.size(); ++i) {
    setGuid(iids[static_cast<capnp::uint>(i)], implemented[i]);
  }
  switch (kind) {
    case wire::Kind::SERVER:
      ref.setObject(makeServerStub(connection, object, std::move(onRelease)));
      break;
    case wire::Kind::GROUP:
      ref.setObject(makeGroupStub(connection, std::move(object)));
      break;
    case wire::Kind::ENUM_ITEM_ATTRIBUTES:
      ref.setObject(makeEnumItemAttributesStub(connection, std::move(object)));
      break;
    case wire::Kind::SERVER_LIST:
      ref.setObject(makeServerListStub(connection, object, std::move(onRelease)));
      break;
    case wire::Kind::CONNECTION_POINT:
      ref.setObject(makeConnectionPointStub(connection, object));
      break;
    case wire::Kind::ENUM_STRING:
    case wire::Kind::ENUM_UNKNOWN:
    case wire::Kind::ENUM_GUID:
    case wire::Kind::ENUM_CONNECTION_POINTS:
      ref.setObject(makeEnumStub(connection, object, kind));
      break;
  }
}

}  // namespace opc::remote
