// Internal to the remote transport; not API.
//
// The host's stub of a group: the capability a client's group proxy calls.
// It runs on the thread of the client's connection, the apartment of the
// servers that client made, and calls the group directly; it never waits for a client callback.
// Arguments from the wire are checked before the server sees them: a malformed one (lists whose
// lengths disagree, an odd-length string, a value that does not decode) answers E_INVALIDARG; what
// the server returns goes back whole and is freed here.
#pragma once

#include <memory>

#include "opc/OPCDA.h"
#include "opc/remote/remote.capnp.h"

namespace opc::remote {

class HostConnection;

class GroupStub final : public wire::GroupObject::Server {
 public:
  GroupStub(std::shared_ptr<HostConnection> connection, ComPtr<IUnknown> group);
  ~GroupStub();

 protected:
  using SyncIo = wire::OpcSyncIo::Server;
  using AsyncIo = wire::OpcAsyncIo::Server;
  using AsyncIo2 = wire::OpcAsyncIo2::Server;

  kj::Promise<void> queryInterface(QueryInterfaceContext context) override;

  kj::Promise<void> getState(GetStateContext context) override;
  kj::Promise<void> setState(SetStateContext context) override;
  kj::Promise<void> setName(SetNameContext context) override;
  kj::Promise<void> cloneGroup(CloneGroupContext context) override;
  kj::Promise<void> getPublicState(GetPublicStateContext context) override;
  kj::Promise<void> moveToPublic(MoveToPublicContext context) override;

  kj::Promise<void> addItems(AddItemsContext context) override;
  kj::Promise<void> validateItems(ValidateItemsContext context) override;
  kj::Promise<void> removeItems(RemoveItemsContext context) override;
  kj::Promise<void> setActiveState(SetActiveStateContext context) override;
  kj::Promise<void> setClientHandles(SetClientHandlesContext context) override;
  kj::Promise<void> setDatatypes(SetDatatypesContext context) override;
  kj::Promise<void> createEnumerator(CreateEnumeratorContext context) override;

  kj::Promise<void> read(SyncIo::ReadContext context) override;
  kj::Promise<void> write(SyncIo::WriteContext context) override;

  kj::Promise<void> read(AsyncIo2::ReadContext context) override;
  kj::Promise<void> write(AsyncIo2::WriteContext context) override;
  kj::Promise<void> refresh2(Refresh2Context context) override;
  kj::Promise<void> cancel2(Cancel2Context context) override;
  kj::Promise<void> setEnable(SetEnableContext context) override;
  kj::Promise<void> getEnable(GetEnableContext context) override;

  kj::Promise<void> read(AsyncIo::ReadContext context) override;
  kj::Promise<void> write(AsyncIo::WriteContext context) override;
  kj::Promise<void> refresh(RefreshContext context) override;
  kj::Promise<void> cancel(CancelContext context) override;

  kj::Promise<void> getData(GetDataContext context) override;
  kj::Promise<void> queryGetData(QueryGetDataContext context) override;
  kj::Promise<void> dAdvise(DAdviseContext context) override;
  kj::Promise<void> dUnadvise(DUnadviseContext context) override;

  kj::Promise<void> enumConnectionPoints(EnumConnectionPointsContext context) override;
  kj::Promise<void> findConnectionPoint(FindConnectionPointContext context) override;

 private:
  std::shared_ptr<HostConnection> connection_;
  ComPtr<IUnknown> group_;
  ComPtr<IOPCItemMgt> itemMgt_;
  ComPtr<IOPCGroupStateMgt> stateMgt_;
  ComPtr<IOPCPublicGroupStateMgt> publicMgt_;
  ComPtr<IOPCSyncIO> syncIO_;
  ComPtr<IOPCAsyncIO> asyncIO_;
  ComPtr<IOPCAsyncIO2> asyncIO2_;
  ComPtr<IDataObject> dataObject_;
  ComPtr<IConnectionPointContainer> container_;
};

}  // namespace opc::remote
