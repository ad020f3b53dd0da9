#include "simbrowser.h"

#include <mutex>

#include "opc/taskmem.h"
#include "servercore_p.h"
#include "simulationserver.h"

namespace veze6::sim {

namespace detail {

namespace {

bool itemPasses(const SimItem& item, const BrowseQuery& q) {
  if (q.accessRights && (item.accessRights & q.accessRights) != q.accessRights) return false;
  if (q.dataType != VT_EMPTY && FAILED(AddressSpace::checkRequestedType(item, q.dataType))) {
    return false;
  }
  return true;
}

// Leaves of the branch first, then each sub-branch in turn.
void collectBelow(const Branch& branch, const BrowseQuery& q, std::vector<std::u16string>& out) {
  for (const SimItem* item : branch.leaves) {
    if (q.filter.matches(item->itemId) && itemPasses(*item, q)) out.push_back(item->itemId);
  }
  for (const auto& sub : branch.branches) collectBelow(*sub, q, out);
}

}  // namespace

std::vector<std::u16string> browseNames(const AddressSpace& space, const Branch* position,
                                        bool flat, const BrowseQuery& query) {
  std::vector<std::u16string> out;
  if (flat) {
    if (query.type == OPC_BRANCH) return out;
    for (const auto& item : space.items()) {
      if (query.filter.matches(item->itemId) && itemPasses(*item, query)) {
        out.push_back(item->itemId);
      }
    }
    return out;
  }
  const Branch& at = position ? *position : space.root();
  switch (query.type) {
    case OPC_BRANCH:
      for (const auto& b : at.branches) {
        if (query.filter.matches(b->name)) out.push_back(b->name);
      }
      break;
    case OPC_LEAF:
      for (const SimItem* item : at.leaves) {
        const std::u16string_view name = item->name();
        if (query.filter.matches(name) && itemPasses(*item, query)) out.emplace_back(name);
      }
      break;
    case OPC_FLAT:
      collectBelow(at, query, out);
      break;
  }
  return out;
}

}  // namespace detail

namespace {

std::u16string joinPath(std::u16string_view position, std::u16string_view name) {
  std::u16string id(position);
  if (!id.empty()) id += AddressSpace::kSeparator;
  id += name;
  return id;
}

HRESULT stringOut(std::u16string_view text, LPWSTR* out) {
  *out = opc::taskStringDup(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT SimulationServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (auto injected = core_->enter(SimCall::QueryOrganization)) return *injected;
  if (!pNameSpaceType) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  *pNameSpaceType = flatAddressSpace_ ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT SimulationServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                               LPCWSTR szString) {
  if (auto injected = core_->enter(SimCall::ChangeBrowsePosition)) return *injected;
  const auto text = boundedWideView(szString, AddressSpace::kMaxItemIdLength);
  std::lock_guard lock(core_->mutex);
  if (flatAddressSpace_) return E_FAIL;  // a flat space has no positions
  const Branch* root = &core_->space.root();
  const Branch* at = browsePosition_ ? browsePosition_ : root;
  switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
      if (at == root) return E_FAIL;
      browsePosition_ = at->parent == root ? nullptr : at->parent;
      return S_OK;
    case OPC_BROWSE_DOWN: {
      if (!text || text->empty()) return E_INVALIDARG;
      const Branch* child = at->findChild(*text);
      if (!child) return E_INVALIDARG;
      browsePosition_ = child;
      return S_OK;
    }
    case OPC_BROWSE_TO: {
      if (!text) return E_INVALIDARG;
      const Branch* target = core_->space.findBranch(*text);
      if (!target) return E_INVALIDARG;
      browsePosition_ = target == root ? nullptr : target;
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT SimulationServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                           LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                           DWORD dwAccessRightsFilter,
                                           IEnumString** ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  if (auto injected = core_->enter(SimCall::BrowseOPCItemIDs)) return *injected;
  if (!ppIEnumString) return E_INVALIDARG;
  if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF &&
      dwBrowseFilterType != OPC_FLAT) {
    return E_INVALIDARG;
  }
  const auto filterText = boundedWideView(szFilterCriteria, detail::kMaxBrowseFilterLength);
  if (!filterText) return OPC_E_INVALIDFILTER;
  auto filter = opc::NameFilter::parse(*filterText);
  if (!filter) return OPC_E_INVALIDFILTER;

  detail::BrowseQuery query{dwBrowseFilterType, std::move(*filter), vtDataTypeFilter,
                            dwAccessRightsFilter};
  std::vector<std::u16string> names;
  {
    std::lock_guard lock(core_->mutex);
    names = detail::browseNames(core_->space, browsePosition_, flatAddressSpace_, query);
  }
  const bool none = names.empty();
  *ppIEnumString = opc::makeEnumString(std::move(names)).detach();
  if (!*ppIEnumString) return E_OUTOFMEMORY;
  return none ? S_FALSE : S_OK;
}

HRESULT SimulationServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (szItemID) *szItemID = nullptr;
  if (auto injected = core_->enter(SimCall::GetItemID)) return *injected;
  if (!szItemID) return E_INVALIDARG;
  const auto name = boundedWideView(szItemDataID, AddressSpace::kMaxItemIdLength);
  if (!name) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  const AddressSpace& space = core_->space;
  const std::u16string position = browsePosition_ ? browsePosition_->path() : std::u16string();
  if (name->empty()) return stringOut(flatAddressSpace_ ? u"" : position, szItemID);
  const auto known = [&](std::u16string_view id) {
    if (FAILED(AddressSpace::checkItemIdSyntax(id))) return false;
    if (flatAddressSpace_) return space.find(id) != nullptr;
    return space.find(id) != nullptr || space.findBranch(id) != nullptr;
  };
  if (!flatAddressSpace_) {
    const std::u16string id = joinPath(position, *name);
    if (known(id)) return stringOut(id, szItemID);
  }
  // A full id, as a flat listing gives it.
  if (known(*name)) return stringOut(*name, szItemID);
  return E_INVALIDARG;
}

HRESULT SimulationServer::BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  if (auto injected = core_->enter(SimCall::BrowseAccessPaths)) return *injected;
  if (!ppIEnumString) return E_INVALIDARG;
  if (!szItemID) return OPC_E_INVALIDITEMID;
  const auto id = boundedWideView(szItemID, AddressSpace::kMaxItemIdLength);
  if (!id || FAILED(AddressSpace::checkItemIdSyntax(*id))) return OPC_E_INVALIDITEMID;
  std::vector<std::u16string> paths;
  {
    std::lock_guard lock(core_->mutex);
    if (!core_->space.find(*id)) return OPC_E_UNKNOWNITEMID;
    // Every item is reachable through every access path of the server.
    paths = core_->space.accessPaths();
  }
  const bool none = paths.empty();
  *ppIEnumString = opc::makeEnumString(std::move(paths)).detach();
  if (!*ppIEnumString) return E_OUTOFMEMORY;
  return none ? S_FALSE : S_OK;
}

void SimulationServer::setFlatAddressSpace(bool flat) {
  std::lock_guard lock(core_->mutex);
  flatAddressSpace_ = flat;
  browsePosition_ = nullptr;
}

bool SimulationServer::flatAddressSpace() const {
  std::lock_guard lock(core_->mutex);
  return flatAddressSpace_;
}

}  // namespace veze6::sim
