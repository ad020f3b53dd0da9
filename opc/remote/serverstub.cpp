// The host's stub of a server object: each method calls the object on the
// thread of the client's connection (its apartment) and answers with the
// call's result.
#include <kj/common.h>

#include <vector>

#include "opc/remote/stubbase_p.h"

namespace opc::remote {

namespace {

// Where an answer's object goes.
constexpr auto groupRef = [](auto r) { return r.initGroup(); };
constexpr auto enumeratorRef = [](auto r) { return r.initEnumerator(); };
constexpr auto textOf = [](auto r, auto text) { r.setText(text); };

// The calls that answer per property id, and how their values go onto the
// wire; put returns the id's error (the server's, or why the value could
// not go).
struct PropertyValues {
  using Value = VARIANT;
  static constexpr auto call = &IOPCItemProperties::GetItemProperties;
  template <class Results>
  static auto init(Results r, DWORD count) {
    return r.initValues(count);
  }
  template <class List>
  static HRESULT put(List list, DWORD i, const VARIANT& value, HRESULT error) {
    const HRESULT encoded = setVariant(list[i], value);
    if (FAILED(encoded)) {
      setVariant(list[i], VARIANT{});
      if (SUCCEEDED(error)) error = encoded;
    }
    return error;
  }
  static void clear(VARIANT& value) { VariantClear(&value); }
};

struct PropertyItemIds {
  using Value = LPWSTR;
  static constexpr auto call = &IOPCItemProperties::LookupItemIDs;
  template <class Results>
  static auto init(Results r, DWORD count) {
    return r.initItemIds(count);
  }
  template <class List>
  static HRESULT put(List list, DWORD i, LPCWSTR itemId, HRESULT error) {
    if (itemId) list.set(i, wideData(itemId));
    return error;
  }
  static void clear(LPWSTR& itemId) { CoTaskMemFree(itemId); }
};

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
    if (SUCCEEDED(hr)) {
      context.getResults().setServerGroup(serverGroup);
      context.getResults().setRevisedUpdateRate(revised);
    }
    return answerObject(context, hr, group, wire::Kind::GROUP, groupRef);
  }

  kj::Promise<void> getErrorString(
      wire::OpcServer::Server::GetErrorStringContext context) override {
    if (!server_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    TaskString text;
    const HRESULT hr = server_->GetErrorString(p.getError(), p.getLcid(), text.put());
    return answerText(context, hr, text, textOf);
  }

  kj::Promise<void> getGroupByName(GetGroupByNameContext context) override {
    return answerGroupByName(context, server_, &IOPCServer::GetGroupByName);
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
    const auto kind = iid == IID_IEnumString ? wire::Kind::ENUM_STRING : wire::Kind::ENUM_UNKNOWN;
    return answerObject(context, hr, enumerator, kind, enumeratorRef);
  }

  // ---- IOPCServerPublicGroups ----
  kj::Promise<void> getPublicGroupByName(GetPublicGroupByNameContext context) override {
    return answerGroupByName(context, publicGroups_, &IOPCServerPublicGroups::GetPublicGroupByName);
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
    return answerText(context, hr, text, textOf);
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
    // The server's texts are let go of however the answer ends.
    const auto freeTexts = kj::defer([&] {
      for (DWORD i = 0; texts && i < count; ++i) CoTaskMemFree(texts[i]);
    });
    if (SUCCEEDED(hr) && count && (!ids || !texts || !types)) {
      return answer(context, E_UNEXPECTED);
    }
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      auto list = r.initProperties(count);
      for (DWORD i = 0; i < count; ++i) {
        list[i].setId(ids[i]);
        list[i].setDataType(types[i]);
        if (texts[i]) list[i].setDescription(wideData(texts[i]));
      }
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> getItemProperties(GetItemPropertiesContext context) override {
    return answerPerProperty<PropertyValues>(context);
  }

  kj::Promise<void> lookupItemIds(LookupItemIdsContext context) override {
    return answerPerProperty<PropertyItemIds>(context);
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
    return answerObject(context, hr, strings, wire::Kind::ENUM_STRING, enumeratorRef);
  }

  kj::Promise<void> getItemId(GetItemIdContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasItemDataId(), p.getItemDataId())) return answer(context, E_INVALIDARG);
    TaskString id;
    const HRESULT hr = browse_->GetItemID(name.mutableGet(), id.put());
    return answerText(context, hr, id, [](auto r, auto text) { r.setItemId(text); });
  }

  kj::Promise<void> browseAccessPaths(BrowseAccessPathsContext context) override {
    if (!browse_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    ComPtr<IEnumString> strings;
    const HRESULT hr = browse_->BrowseAccessPaths(item.get(), strings.put());
    return answerObject(context, hr, strings, wire::Kind::ENUM_STRING, enumeratorRef);
  }

  // ---- IConnectionPointContainer ----
  kj::Promise<void> enumConnectionPoints(EnumConnectionPointsContext context) override {
    if (!points_) return answer(context, E_NOINTERFACE);
    ComPtr<IEnumConnectionPoints> points;
    const HRESULT hr = points_->EnumConnectionPoints(points.put());
    return answerObject(context, hr, points, wire::Kind::ENUM_CONNECTION_POINTS, enumeratorRef);
  }

  kj::Promise<void> findConnectionPoint(FindConnectionPointContext context) override {
    if (!points_) return answer(context, E_NOINTERFACE);
    ComPtr<IConnectionPoint> point;
    const HRESULT hr =
        points_->FindConnectionPoint(guidFrom(context.getParams().getIid()), point.put());
    return answerObject(context, hr, point, wire::Kind::CONNECTION_POINT,
                        [](auto r) { return r.initPoint(); });
  }

 private:
  /// The answer of a call that finds a group by its name.
  template <class Context, class I, class Find>
  kj::Promise<void> answerGroupByName(Context& context, const ComPtr<I>& object, Find find) {
    if (!object) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg name;
    if (!name.read(p.hasName(), p.getName())) return answer(context, E_INVALIDARG);
    ComPtr<IUnknown> group;
    const HRESULT hr = (object.get()->*find)(name.get(), guidFrom(p.getIid()), group.put());
    return answerObject(context, hr, group, wire::Kind::GROUP, groupRef);
  }

  /// The answer of a call that takes an item and property ids and answers
  /// per id: a value (as `Per` puts it on the wire) and an error.
  template <class Per, class Context>
  kj::Promise<void> answerPerProperty(Context& context) {
    if (!properties_) return answer(context, E_NOINTERFACE);
    const auto p = context.getParams();
    WideArg item;
    if (!item.read(p.hasItemId(), p.getItemId())) return answer(context, E_INVALIDARG);
    const auto idList = p.getIds();
    const DWORD count = idList.size();
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = idList[i];
    TaskOut<typename Per::Value> values;
    TaskOut<HRESULT> errors;
    const HRESULT hr = (properties_.get()->*Per::call)(item.mutableGet(), count, ids.data(),
                                                       values.put(), errors.put());
    // The server's values are let go of however the answer ends.
    const auto clearValues = kj::defer([&] {
      for (DWORD i = 0; values && i < count; ++i) Per::clear(values[i]);
    });
    if (SUCCEEDED(hr) && count && (!values || !errors)) return answer(context, E_UNEXPECTED);
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      auto out = Per::init(r, count);
      auto e = r.initErrors(count);
      for (DWORD i = 0; i < count; ++i) e.set(i, Per::put(out, i, values[i], errors[i]));
    }
    return kj::READY_NOW;
  }

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
