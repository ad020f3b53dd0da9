// The group stub: identity, group state and item management.
#include "groupstub_p.h"
#include "groupstub_util_p.h"
#include "itemmarshal_p.h"
#include "marshal_p.h"
#include "objectref_p.h"

namespace opc::remote {

GroupStub::GroupStub(std::shared_ptr<HostConnection> connection, ComPtr<IUnknown> group)
    : connection_(std::move(connection)), group_(std::move(group)) {
  group_.as(itemMgt_);
  group_.as(stateMgt_);
  group_.as(publicMgt_);
  group_.as(syncIO_);
  group_.as(asyncIO_);
  group_.as(asyncIO2_);
  group_.as(dataObject_);
  group_.as(container_);
}

GroupStub::~GroupStub() = default;

kj::Promise<void> GroupStub::queryInterface(QueryInterfaceContext context) {
  const GUID iid = guidFrom(context.getParams().getIid());
  auto results = context.getResults();
  // Only the group's own interfaces can travel; the reference lists them.
  const auto& known = kindInterfaces(wire::Kind::GROUP);
  ComPtr<IUnknown> asked;
  HRESULT hr = group_->QueryInterface(iid, asked.putVoid());
  if (SUCCEEDED(hr) && std::find(known.begin(), known.end(), iid) == known.end())
    hr = E_NOINTERFACE;
  if (SUCCEEDED(hr)) refFromObject(connection_, group_, wire::Kind::GROUP, results.initObject());
  results.setHr(hr);
  return kj::READY_NOW;
}

// ---- IOPCGroupStateMgt --------------------------------------------------------------------

kj::Promise<void> GroupStub::getState(GetStateContext context) {
  auto results = context.getResults();
  if (!stateMgt_) return answer(context, E_NOINTERFACE);
  DWORD rate = 0;
  BOOL active = FALSE;
  TaskString name;
  LONG bias = 0;
  FLOAT deadband = 0;
  DWORD lcid = 0;
  OPCHANDLE client = 0;
  OPCHANDLE server = 0;
  const HRESULT hr =
      stateMgt_->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client, &server);
  if (SUCCEEDED(hr)) {
    auto s = results.initState();
    s.setUpdateRate(rate);
    s.setActive(active != FALSE);
    if (name) s.setName(wideData(name.get()));
    s.setTimeBias(bias);
    s.setPercentDeadband(deadband);
    s.setLcid(lcid);
    s.setClientGroup(client);
    s.setServerGroup(server);
  }
  return answer(context, hr);
}

kj::Promise<void> GroupStub::setState(SetStateContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!stateMgt_) return answer(context, E_NOINTERFACE);
  DWORD rate = p.getRequestedUpdateRate();
  DWORD revised = 0;
  BOOL active = p.getActive() ? TRUE : FALSE;
  LONG bias = p.getTimeBias();
  FLOAT deadband = p.getPercentDeadband();
  DWORD lcid = p.getLcid();
  OPCHANDLE client = p.getClientGroup();
  const HRESULT hr = stateMgt_->SetState(
      p.getHasUpdateRate() ? &rate : nullptr, &revised, p.getHasActive() ? &active : nullptr,
      p.getHasTimeBias() ? &bias : nullptr, p.getHasPercentDeadband() ? &deadband : nullptr,
      p.getHasLcid() ? &lcid : nullptr, p.getHasClientGroup() ? &client : nullptr);
  if (SUCCEEDED(hr)) results.setRevisedUpdateRate(revised);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::setName(SetNameContext context) {
  const auto p = context.getParams();
  if (!stateMgt_) return answer(context, E_NOINTERFACE);
  WideArg name;
  if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
  return answer(context, stateMgt_->SetName(name.get()));
}

kj::Promise<void> GroupStub::cloneGroup(CloneGroupContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!stateMgt_) return answer(context, E_NOINTERFACE);
  WideArg name;
  if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
  ComPtr<IUnknown> clone;
  const HRESULT hr = stateMgt_->CloneGroup(name.get(), guidFrom(p.getIid()), clone.put());
  if (SUCCEEDED(hr) && clone)
    refFromObject(connection_, clone, wire::Kind::GROUP, results.initGroup());
  return answer(context, hr);
}

// ---- IOPCPublicGroupStateMgt -----------------------------------------------------------------

kj::Promise<void> GroupStub::getPublicState(GetPublicStateContext context) {
  auto results = context.getResults();
  if (!publicMgt_) return answer(context, E_NOINTERFACE);
  BOOL isPublic = FALSE;
  const HRESULT hr = publicMgt_->GetState(&isPublic);
  if (SUCCEEDED(hr)) results.setPublic(isPublic != FALSE);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::moveToPublic(MoveToPublicContext context) {
  if (!publicMgt_) return answer(context, E_NOINTERFACE);
  return answer(context, publicMgt_->MoveToPublic());
}

// ---- IOPCItemMgt ---------------------------------------------------------------------------

namespace {

template <class Results>
void putAdded(Results& results, HRESULT hr, DWORD count, OPCITEMRESULT* made, HRESULT* errors) {
  // A server that claims success without its arrays answers an empty list:
  // the client takes that as the malformed answer it is.
  if (SUCCEEDED(hr) && made && errors) {
    putItemResults(results.initResults(count), made);
    putErrors(results, errors, count);
  }
  freeItemResults(made, count);
  CoTaskMemFree(errors);
}

}  // namespace

kj::Promise<void> GroupStub::addItems(AddItemsContext context) {
  auto results = context.getResults(itemResultsSize(context.getParams().getItems().size()));
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  ItemDefs defs;
  if (FAILED(defs.read(context.getParams().getItems()))) return answer(context, E_INVALIDARG);
  OPCITEMRESULT* made = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr = itemMgt_->AddItems(defs.size(), defs.data(), &made, &errors);
  putAdded(results, hr, defs.size(), made, errors);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::validateItems(ValidateItemsContext context) {
  const auto p = context.getParams();
  auto results = context.getResults(itemResultsSize(p.getItems().size()));
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  ItemDefs defs;
  if (FAILED(defs.read(p.getItems()))) return answer(context, E_INVALIDARG);
  OPCITEMRESULT* made = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr = itemMgt_->ValidateItems(defs.size(), defs.data(),
                                             p.getBlobUpdate() ? TRUE : FALSE, &made, &errors);
  putAdded(results, hr, defs.size(), made, errors);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::removeItems(RemoveItemsContext context) {
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(context.getParams().getServerHandles());
  HRESULT* errors = nullptr;
  const HRESULT hr = itemMgt_->RemoveItems(DWORD(handles.size()), dataOf(handles), &errors);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::setActiveState(SetActiveStateContext context) {
  const auto p = context.getParams();
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  HRESULT* errors = nullptr;
  const HRESULT hr = itemMgt_->SetActiveState(DWORD(handles.size()), dataOf(handles),
                                              p.getActive() ? TRUE : FALSE, &errors);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::setClientHandles(SetClientHandlesContext context) {
  const auto p = context.getParams();
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  auto clients = numbers<OPCHANDLE>(p.getClientHandles());
  if (clients.size() != handles.size()) return answer(context, E_INVALIDARG);
  HRESULT* errors = nullptr;
  const HRESULT hr =
      itemMgt_->SetClientHandles(DWORD(handles.size()), dataOf(handles), dataOf(clients), &errors);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::setDatatypes(SetDatatypesContext context) {
  const auto p = context.getParams();
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  auto types = numbers<VARTYPE>(p.getDataTypes());
  if (types.size() != handles.size()) return answer(context, E_INVALIDARG);
  HRESULT* errors = nullptr;
  const HRESULT hr =
      itemMgt_->SetDatatypes(DWORD(handles.size()), dataOf(handles), dataOf(types), &errors);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::createEnumerator(CreateEnumeratorContext context) {
  auto results = context.getResults();
  if (!itemMgt_) return answer(context, E_NOINTERFACE);
  const GUID iid = guidFrom(context.getParams().getIid());
  // Only the item enumerator has a wire form.
  if (iid != IID_IEnumOPCItemAttributes) return answer(context, E_NOINTERFACE);
  ComPtr<IUnknown> enumerator;
  const HRESULT hr = itemMgt_->CreateEnumerator(iid, enumerator.put());
  if (SUCCEEDED(hr) && enumerator) {
    refFromObject(connection_, enumerator, wire::Kind::ENUM_ITEM_ATTRIBUTES,
                  results.initEnumerator());
  }
  return answer(context, hr);
}

// ---- factory ------------------------------------------------------------------------------

wire::Unknown::Client makeGroupStub(const std::shared_ptr<HostConnection>& connection,
                                    ComPtr<IUnknown> group) {
  return kj::heap<GroupStub>(connection, std::move(group));
}

}  // namespace opc::remote
