// The host's stub of a server object: each method calls the object on the
// RPC thread (its apartment) and answers with the call's result.
#include "opc/remote/serverstub_p.h"
#include "opc/remote/stubbase_p.h"

namespace opc::remote {

namespace {

class ServerStub final : public wire::ServerObject::Server, private StubBase {
 public:
  ServerStub(std::shared_ptr<HostConnection> connection, const ComPtr<IUnknown>& object,
             std::function<void()> onRelease)
      : StubBase(std::move(connection), std::move(onRelease)),
        server_(object.as<IOPCServer>()),
        common_(object.as<IOPCCommon>()),
        publicGroups_(object.as<IOPCServerPublicGroups>()),
        properties_(object.as<IOPCItemProperties>()),
        browse_(object.as<IOPCBrowseServerAddressSpace>()),
        points_(object.as<IConnectionPointContainer>()) {}

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    return answer(context, E_NOINTERFACE);
  }

  // ---- IOPCServer ----
  kj::Promise<void> addGroup(AddGroupContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    LONG bias = p.getTimeBias();
    FLOAT deadband = p.getPercentDeadband();
    OPCHANDLE serverGroup = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    const HRESULT hr = server_->AddGroup(
        name.get(), p.getActive(), p.getRequestedUpdateRate(), p.getClientGroup(),
        p.getHasTimeBias() ? &bias : nullptr, p.getHasPercentDeadband() ? &deadband : nullptr,
        p.getLcid(), &serverGroup, &revised, guidFrom(p.getIid()), group.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      r.setServerGroup(serverGroup);
      r.setRevisedUpdateRate(revised);
      refFromObject(connection(), group, wire::Kind::GROUP, r.initGroup());
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> getErrorString(
      wire::OpcServer::Server::GetErrorStringContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    TaskString text;
    const HRESULT hr = server_->GetErrorString(p.getError(), p.getLcid(), text.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && text) r.setText(wideData(text.get()));
    return kj::READY_NOW;
  }

  kj::Promise<void> getGroupByName(GetGroupByNameContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    ComPtr<IUnknown> group;
    const HRESULT hr = server_->GetGroupByName(name.get(), guidFrom(p.getIid()), group.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) refFromObject(connection(), group, wire::Kind::GROUP, r.initGroup());
    return kj::READY_NOW;
  }

  kj::Promise<void> getStatus(GetStatusContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    TaskOut<OPCSERVERSTATUS> statusOut;
    const HRESULT hr = server_->GetStatus(statusOut.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && statusOut) {
      const OPCSERVERSTATUS* status = statusOut.get();
      TaskMem<OLECHAR> vendorOwned(status->szVendorInfo);
      auto s = r.initStatus();
      s.setStartTime(wireTime(status->ftStartTime));
      s.setCurrentTime(wireTime(status->ftCurrentTime));
      s.setLastUpdateTime(wireTime(status->ftLastUpdateTime));
      s.setServerState(status->dwServerState);
      s.setGroupCount(status->dwGroupCount);
      s.setBandWidth(status->dwBandWidth);
      s.setMajorVersion(status->wMajorVersion);
      s.setMinorVersion(status->wMinorVersion);
      s.setBuildNumber(status->wBuildNumber);
      if (status->szVendorInfo) s.setVendorInfo(wideData(status->szVendorInfo));
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> removeGroup(RemoveGroupContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    return answer(context, server_->RemoveGroup(p.getServerGroup(), p.getForce()));
  }

  kj::Promise<void> createGroupEnumerator(CreateGroupEnumeratorContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    const IID iid = guidFrom(p.getIid());
    ComPtr<IUnknown> enumerator;
    const HRESULT hr = server_->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(p.getScope()), iid,
                                                      enumerator.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && enumerator) {
      const auto kind = iid == IID_IEnumString ? wire::Kind::ENUM_STRING : wire::Kind::ENUM_UNKNOWN;
      refFromObject(connection(), enumerator, kind, r.initEnumerator());
    }
    return kj::READY_NOW;
  }

  // ---- IOPCServerPublicGroups ----
  kj::Promise<void> getPublicGroupByName(GetPublicGroupByNameContext context) override {
    if (!publicGroups_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    ComPtr<IUnknown> group;
    const HRESULT hr =
        publicGroups_->GetPublicGroupByName(name.get(), guidFrom(p.getIid()), group.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) refFromObject(connection(), group, wire::Kind::GROUP, r.initGroup());
    return kj::READY_NOW;
  }

  kj::Promise<void> removePublicGroup(RemovePublicGroupContext context) override {
    if (!publicGroups_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    return answer(context, publicGroups_->RemovePublicGroup(p.getServerGroup(), p.getForce()));
  }

  // ---- IOPCCommon ----
  kj::Promise<void> setLocaleId(SetLocaleIdContext context) override {
    if (!common_) return answer(context, E_NOINTERFACE);
    return answer(context, common_->SetLocaleID(context.getParams().getLcid()));
  }

  kj::Promise<void> getLocaleId(GetLocaleIdContext context) override {
    if (!common_) return answer(context, E_NOINTERFACE);
    LCID lcid = 0;
    const HRESULT hr = common_->GetLocaleID(&lcid);
    auto r = context.getResults();
    r.setHr(hr);
    r.setLcid(lcid);
    return kj::READY_NOW;
  }

  kj::Promise<void> queryAvailableLocaleIds(QueryAvailableLocaleIdsContext context) override {
    if (!common_) return answer(context, E_NOINTERFACE);
    DWORD count = 0;
    TaskOut<LCID> lcids;
    const HRESULT hr = common_->QueryAvailableLocaleIDs(&count, lcids.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      if (count && !lcids) return answer(context, E_UNEXPECTED);
      auto list = r.initLcids(count);
      for (DWORD i = 0; i < count; ++i) list.set(i, lcids[i]);
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> getErrorString(
      wire::OpcCommon::Server::GetErrorStringContext context) override {
    if (!common_) return answer(context, E_NOINTERFACE);
    TaskString text;
    const HRESULT hr = common_->GetErrorString(context.getParams().getError(), text.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && text) r.setText(wideData(text.get()));
    return kj::READY_NOW;
  }

  kj::Promise<void> setClientName(SetClientNameContext context) override {
    if (!common_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    return answer(context, common_->SetClientName(name.get()));
  }

  // ---- IOPCItemProperties ----
  kj::Promise<void> queryAvailableProperties(QueryAvailablePropertiesContext context) override {
    if (!properties_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    DWORD count = 0;
    TaskOut<DWORD> ids;
    TaskOut<LPWSTR> texts;
    TaskOut<VARTYPE> types;
    const HRESULT hr = properties_->QueryAvailableProperties(item.mutableGet(), &count, ids.put(),
                                                             texts.put(), types.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      if (count && (!ids || !texts || !types)) return answer(context, E_UNEXPECTED);
      auto list = r.initProperties(count);
      for (DWORD i = 0; i < count; ++i) {
        list[i].setId(ids[i]);
        list[i].setDataType(types[i]);
        if (texts[i]) list[i].setDescription(wideData(texts[i]));
      }
    }
    for (DWORD i = 0; texts && i < count; ++i) CoTaskMemFree(texts[i]);
    return kj::READY_NOW;
  }

  kj::Promise<void> getItemProperties(GetItemPropertiesContext context) override {
    if (!properties_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    const auto idList = p.getIds();
    const DWORD count = idList.size();
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = idList[i];
    TaskOut<VARIANT> values;
    TaskOut<HRESULT> errors;
    const HRESULT hr = properties_->GetItemProperties(item.mutableGet(), count, ids.data(),
                                                      values.put(), errors.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && count && (!values || !errors)) return answer(context, E_UNEXPECTED);
    if (SUCCEEDED(hr)) {
      auto v = r.initValues(count);
      auto e = r.initErrors(count);
      for (DWORD i = 0; i < count; ++i) {
        HRESULT error = errors[i];
        const HRESULT encoded = setVariant(v[i], values[i]);
        if (FAILED(encoded)) {
          setVariant(v[i], VARIANT{});
          if (SUCCEEDED(error)) error = encoded;
        }
        e.set(i, error);
      }
    }
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    return kj::READY_NOW;
  }

  kj::Promise<void> lookupItemIds(LookupItemIdsContext context) override {
    if (!properties_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    const auto idList = p.getIds();
    const DWORD count = idList.size();
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = idList[i];
    TaskOut<LPWSTR> texts;
    TaskOut<HRESULT> errors;
    const HRESULT hr =
        properties_->LookupItemIDs(item.mutableGet(), count, ids.data(), texts.put(), errors.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && count && (!texts || !errors)) return answer(context, E_UNEXPECTED);
    if (SUCCEEDED(hr)) {
      auto t = r.initItemIds(count);
      auto e = r.initErrors(count);
      for (DWORD i = 0; i < count; ++i) {
        if (texts[i]) t.set(i, wideData(texts[i]));
        e.set(i, errors[i]);
      }
    }
    for (DWORD i = 0; texts && i < count; ++i) CoTaskMemFree(texts[i]);
    return kj::READY_NOW;
  }

  // ---- IOPCBrowseServerAddressSpace ----
  kj::Promise<void> queryOrganization(QueryOrganizationContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    OPCNAMESPACETYPE type{};
    const HRESULT hr = browse_->QueryOrganization(&type);
    auto r = context.getResults();
    r.setHr(hr);
    r.setNameSpaceType(type);
    return kj::READY_NOW;
  }

  kj::Promise<void> changeBrowsePosition(ChangeBrowsePositionContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    return answer(context, browse_->ChangeBrowsePosition(
                               static_cast<OPCBROWSEDIRECTION>(p.getDirection()), name.get()));
  }

  kj::Promise<void> browseOpcItemIds(BrowseOpcItemIdsContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg filter;
    if (!filter.read(p.hasFilterCriteria(), p.getFilterCriteria())) {
      return answer(context, E_INVALIDARG);
    }
    ComPtr<IEnumString> strings;
    const HRESULT hr =
        browse_->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(p.getFilterType()), filter.get(),
                                  p.getDataTypeFilter(), p.getAccessRightsFilter(), strings.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && strings) {
      refFromObject(connection(), strings, wire::Kind::ENUM_STRING, r.initEnumerator());
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> getItemId(GetItemIdContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasItemDataId(), p.getItemDataId())) return answer(context, E_INVALIDARG);
    TaskString id;
    const HRESULT hr = browse_->GetItemID(name.mutableGet(), id.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && id) r.setItemId(wideData(id.get()));
    return kj::READY_NOW;
  }

  kj::Promise<void> browseAccessPaths(BrowseAccessPathsContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    ComPtr<IEnumString> strings;
    const HRESULT hr = browse_->BrowseAccessPaths(item.get(), strings.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && strings) {
      refFromObject(connection(), strings, wire::Kind::ENUM_STRING, r.initEnumerator());
    }
    return kj::READY_NOW;
  }

  // ---- IConnectionPointContainer ----
  kj::Promise<void> enumConnectionPoints(EnumConnectionPointsContext context) override {
    if (!points_) return answer(context, E_NOINTERFACE);
    ComPtr<IEnumConnectionPoints> points;
    const HRESULT hr = points_->EnumConnectionPoints(points.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && points) {
      refFromObject(connection(), points, wire::Kind::ENUM_CONNECTION_POINTS, r.initEnumerator());
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> findConnectionPoint(FindConnectionPointContext context) override {
    if (!points_) return answer(context, E_NOINTERFACE);
    ComPtr<IConnectionPoint> point;
    const HRESULT hr =
        points_->FindConnectionPoint(guidFrom(context.getParams().getIid()), point.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr) && point) {
      refFromObject(connection(), point, wire::Kind::CONNECTION_POINT, r.initPoint());
    }
    return kj::READY_NOW;
  }

 private:
  ComPtr<IOPCServer> server_;
  ComPtr<IOPCCommon> common_;
  ComPtr<IOPCServerPublicGroups> publicGroups_;
  ComPtr<IOPCItemProperties> properties_;
  ComPtr<IOPCBrowseServerAddressSpace> browse_;
  ComPtr<IConnectionPointContainer> points_;
};

}  // namespace

wire::Unknown::Client makeServerStub(const std::shared_ptr<HostConnection>& connection,
                                     const ComPtr<IUnknown>& object,
                                     std::function<void()> onRelease) {
  return kj::heap<ServerStub>(connection, object, std::move(onRelease));
}

}  // namespace opc::remote
