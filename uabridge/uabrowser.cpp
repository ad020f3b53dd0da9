#include "uabrowser.h"

#include <map>
#include <set>

#include "opc/namefilter.h"
#include "opc/objidl.h"
#include "opc/taskmem.h"
#include "uanodeinfo.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

constexpr std::uint32_t kBrowsedClasses = std::uint32_t(ua::NodeClass::Object) |
                                          std::uint32_t(ua::NodeClass::Variable) |
                                          std::uint32_t(ua::NodeClass::View);
// Parents followed from a node up to the Objects folder before giving up.
constexpr int kMaxDepth = 64;

const ua::NodeId kObjects{0, ua::nodes::ObjectsFolder};

// A caller's string up to `limit` characters; nothing when longer.
std::optional<std::u16string_view> boundedView(LPCWSTR s, std::size_t limit) {
  if (!s) return std::u16string_view();
  std::size_t n = 0;
  while (s[n]) {
    if (++n > limit) return std::nullopt;
  }
  return std::u16string_view(s, n);
}

ua::BrowseDescription hierarchical(const ua::NodeId& node, ua::BrowseDirection direction) {
  ua::BrowseDescription d;
  d.nodeId = node;
  d.browseDirection = direction;
  d.nodeClassMask = kBrowsedClasses;
  return d;
}

// The references of a browse result that lead to browsable nodes on this
// server; properties are item properties, not part of the tree.
template <class F>
void forEachTarget(const ua::BrowseResult& result, const std::vector<std::string>& namespaces,
                   F&& f) {
  if (ua::isBad(result.status)) return;
  for (const auto& r : result.references) {
    if (r.referenceTypeId == ua::NodeId(0, ua::nodes::HasProperty)) continue;
    if (r.nodeClass != ua::NodeClass::Object && r.nodeClass != ua::NodeClass::Variable &&
        r.nodeClass != ua::NodeClass::View) {
      continue;
    }
    if (auto local = localNodeId(r.nodeId, namespaces)) f(r, *local);
  }
}

// Browses many nodes in one go; false when the answer cannot be used.
bool browseAll(UaSession& session, const std::vector<ua::NodeId>& nodes,
               ua::BrowseDirection direction, std::vector<ua::BrowseResult>& results) {
  std::vector<ua::BrowseDescription> d;
  d.reserve(nodes.size());
  for (const auto& n : nodes) d.push_back(hierarchical(n, direction));
  return !ua::isBad(session.client.browse(d, results)) && results.size() == nodes.size();
}

// Which of the nodes have children of their own in the tree.
std::vector<bool> withChildren(UaSession& session, const std::vector<ua::NodeId>& nodes) {
  std::vector<bool> has(nodes.size(), false);
  if (nodes.empty()) return has;
  std::vector<ua::BrowseResult> results;
  if (!browseAll(session, nodes, ua::BrowseDirection::Forward, results)) return has;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    forEachTarget(results[i], session.namespaces, [&](const auto&, const auto&) { has[i] = true; });
  }
  return has;
}

HRESULT enumerate(std::vector<std::u16string> names, IEnumString** out) {
  const bool none = names.empty();
  *out = opc::makeEnumString(std::move(names)).detach();
  if (!*out) return E_OUTOFMEMORY;
  return none ? S_FALSE : S_OK;
}

HRESULT stringOut(std::u16string_view text, LPWSTR* out) {
  *out = opc::taskStringDup(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

UaBrowser::UaBrowser(std::shared_ptr<UaSession> session) : session_(std::move(session)) {
  path_.push_back({u"", kObjects});
}

std::vector<UaBrowser::Child> UaBrowser::children(const ua::NodeId& node, HRESULT* hr) {
  *hr = S_OK;
  std::vector<ua::BrowseResult> results;
  if (!browseAll(*session_, {node}, ua::BrowseDirection::Forward, results) ||
      ua::isBad(results[0].status)) {
    *hr = E_FAIL;
    return {};
  }
  std::vector<Child> out;
  std::set<std::string> seen;
  std::map<std::u16string, int> used;
  forEachTarget(results[0], session_->namespaces, [&](const auto& r, const ua::NodeId& local) {
    // A node reached by two references (Organizes and HasComponent) is one child.
    if (!seen.insert(local.toString()).second) return;
    std::u16string name = opc::utf8ToUtf16(r.browseName.name);
    if (name.empty()) name = opc::utf8ToUtf16(r.displayName.text);
    if (name.empty()) name = itemIdText(local);
    // Names lead to one node each: a second "X" is "X (2)".
    if (const int n = ++used[name]; n > 1) {
      name += u" (" + opc::utf8ToUtf16(std::to_string(n)) + u")";
    }
    out.push_back({std::move(name), local, r.nodeClass});
  });
  return out;
}

const std::vector<UaBrowser::Child>& UaBrowser::positionChildren(HRESULT* hr) {
  *hr = S_OK;
  if (!listed_ || !(listedAt_ == path_.back().node)) {
    listedChildren_ = children(path_.back().node, hr);
    listedAt_ = path_.back().node;
    listed_ = SUCCEEDED(*hr);
  }
  return listedChildren_;
}

HRESULT UaBrowser::collectFlat(const ua::NodeId& start, std::vector<ua::NodeId>& variables) {
  std::set<std::string> visited{start.toString()};
  std::vector<ua::NodeId> frontier{start};
  while (!frontier.empty() && variables.size() < kMaxFlatItems) {
    std::vector<ua::BrowseResult> results;
    if (!browseAll(*session_, frontier, ua::BrowseDirection::Forward, results)) return E_FAIL;
    std::vector<ua::NodeId> next;
    for (const auto& result : results) {
      forEachTarget(result, session_->namespaces, [&](const auto& r, const ua::NodeId& local) {
        if (!visited.insert(local.toString()).second) return;  // loops and shared nodes
        if (r.nodeClass == ua::NodeClass::Variable && variables.size() < kMaxFlatItems) {
          variables.push_back(local);
        }
        next.push_back(local);
      });
    }
    frontier = std::move(next);
  }
  return S_OK;
}

HRESULT UaBrowser::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_INVALIDARG;
  *pNameSpaceType = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT UaBrowser::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  const auto text = boundedView(szString, kMaxIdLength);
  std::lock_guard lock(mutex_);
  switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
      if (path_.size() == 1) return E_FAIL;
      path_.pop_back();
      return S_OK;
    case OPC_BROWSE_DOWN: {
      if (!text || text->empty()) return E_INVALIDARG;
      HRESULT hr = S_OK;
      for (const auto& child : positionChildren(&hr)) {
        if (child.name != *text) continue;
        if (child.nodeClass == ua::NodeClass::Variable &&
            !withChildren(*session_, {child.node})[0]) {
          return E_INVALIDARG;  // a leaf
        }
        path_.push_back({child.name, child.node});
        return S_OK;
      }
      return FAILED(hr) ? hr : E_INVALIDARG;
    }
    case OPC_BROWSE_TO: {
      if (!text) return E_INVALIDARG;
      if (text->empty()) {
        path_.resize(1);
        return S_OK;
      }
      std::vector<Level> path;
      if (HRESULT hr = pathToItem(*text, path); SUCCEEDED(hr)) {
        path_ = std::move(path);
        return S_OK;
      }
      if (HRESULT hr = pathOfNames(*text, path); FAILED(hr)) return hr;
      path_ = std::move(path);
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT UaBrowser::pathOfNames(std::u16string_view names, std::vector<Level>& path) {
  path.assign(1, Level{u"", kObjects});
  std::u16string_view rest = names;
  while (!rest.empty()) {
    HRESULT hr = S_OK;
    auto kids = children(path.back().node, &hr);
    if (FAILED(hr)) return hr;
    // Names may hold dots themselves: the longest name that fits wins.
    const Child* best = nullptr;
    for (const auto& c : kids) {
      const bool fits = rest.substr(0, c.name.size()) == c.name &&
                        (rest.size() == c.name.size() || rest[c.name.size()] == u'.');
      if (fits && !c.name.empty() && (!best || c.name.size() > best->name.size())) best = &c;
    }
    if (!best) return E_INVALIDARG;
    if (best->nodeClass == ua::NodeClass::Variable && !withChildren(*session_, {best->node})[0]) {
      return E_INVALIDARG;  // a leaf is no position
    }
    path.push_back({best->name, best->node});
    rest.remove_prefix(std::min(rest.size(), best->name.size() + 1));
  }
  return S_OK;
}

HRESULT UaBrowser::pathToItem(std::u16string_view itemId, std::vector<Level>& path) {
  ua::NodeId target;
  if (FAILED(parseItemId(itemId, session_->namespaces, target))) return E_INVALIDARG;
  if (target == kObjects) {
    path.assign(1, Level{u"", kObjects});
    return S_OK;
  }
  // The node must be a branch: an object or view, or a variable with children.
  std::vector<ua::DataValue> values;
  if (ua::isBad(session_->client.read({ua::ReadValueId(target, ua::attributes::NodeClass)}, values,
                                      ua::TimestampsToReturn::Neither)) ||
      values.size() != 1 || ua::isBad(values[0].status)) {
    return E_INVALIDARG;
  }
  const auto* cls = std::get_if<std::int64_t>(&values[0].value.value);
  if (!cls) return E_INVALIDARG;
  const auto nodeClass = ua::NodeClass(*cls);
  if (nodeClass != ua::NodeClass::Object && nodeClass != ua::NodeClass::View &&
      !(nodeClass == ua::NodeClass::Variable && withChildren(*session_, {target})[0])) {
    return E_INVALIDARG;
  }
  // Up along the first parent of each node to the Objects folder.
  std::vector<ua::NodeId> chain{target};
  std::set<std::string> seen{target.toString()};
  bool rooted = false;
  for (int depth = 0; depth < kMaxDepth && !rooted; ++depth) {
    std::vector<ua::BrowseResult> results;
    if (!browseAll(*session_, {chain.back()}, ua::BrowseDirection::Inverse, results)) break;
    std::optional<ua::NodeId> parent;
    forEachTarget(results[0], session_->namespaces, [&](const auto&, const ua::NodeId& local) {
      if (!parent && !seen.count(local.toString())) parent = local;
    });
    if (!parent) break;
    if (*parent == kObjects) {
      rooted = true;
      break;
    }
    seen.insert(parent->toString());
    chain.push_back(std::move(*parent));
  }
  if (!rooted) chain.resize(1);  // no way up: the node hangs below the root
  path.assign(1, Level{u"", kObjects});
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    HRESULT hr = S_OK;
    std::u16string name;
    for (auto& c : children(path.back().node, &hr)) {
      if (c.node == *it) name = std::move(c.name);
    }
    if (name.empty()) name = itemIdText(*it);
    path.push_back({std::move(name), *it});
  }
  return S_OK;
}

HRESULT UaBrowser::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                    VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                    IEnumString** ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  if (!ppIEnumString) return E_INVALIDARG;
  if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF &&
      dwBrowseFilterType != OPC_FLAT) {
    return E_INVALIDARG;
  }
  const auto filterText = boundedView(szFilterCriteria, kMaxFilterLength);
  if (!filterText) return OPC_E_INVALIDFILTER;
  const auto filter = opc::NameFilter::parse(*filterText);
  if (!filter) return OPC_E_INVALIDFILTER;

  std::lock_guard lock(mutex_);
  const ua::NodeId position = path_.back().node;
  // Candidates: names (or item ids for OPC_FLAT) with their nodes.
  std::vector<std::pair<std::u16string, ua::NodeId>> candidates;
  if (dwBrowseFilterType == OPC_FLAT) {
    std::vector<ua::NodeId> variables;
    if (HRESULT hr = collectFlat(position, variables); FAILED(hr)) return hr;
    for (auto& v : variables) {
      std::u16string id = itemIdText(v);
      if (filter->matches(id)) candidates.emplace_back(std::move(id), std::move(v));
    }
  } else {
    // A listing always asks the server afresh, and is what names resolve
    // against until the next listing or move.
    listed_ = false;
    HRESULT hr = S_OK;
    auto kids = positionChildren(&hr);
    if (FAILED(hr)) return hr;
    std::vector<ua::NodeId> variables;
    for (const auto& c : kids) {
      if (c.nodeClass == ua::NodeClass::Variable) variables.push_back(c.node);
    }
    const std::vector<bool> branchy = dwBrowseFilterType == OPC_BRANCH
                                          ? withChildren(*session_, variables)
                                          : std::vector<bool>(variables.size(), false);
    std::size_t v = 0;
    for (auto& c : kids) {
      const bool variable = c.nodeClass == ua::NodeClass::Variable;
      const bool branch = !variable || branchy[v];
      if (variable) ++v;
      const bool wanted = dwBrowseFilterType == OPC_BRANCH ? branch : variable;
      if (wanted && filter->matches(c.name)) candidates.emplace_back(std::move(c.name), c.node);
    }
    // Branches are filtered by name only.
    if (dwBrowseFilterType == OPC_BRANCH) {
      std::vector<std::u16string> names;
      for (auto& c : candidates) names.push_back(std::move(c.first));
      return enumerate(std::move(names), ppIEnumString);
    }
  }

  std::vector<std::u16string> names;
  if (vtDataTypeFilter == VT_EMPTY && dwAccessRightsFilter == 0) {
    for (auto& c : candidates) names.push_back(std::move(c.first));
    return enumerate(std::move(names), ppIEnumString);
  }
  std::vector<ua::NodeId> nodes;
  for (const auto& c : candidates) nodes.push_back(c.second);
  std::vector<NodeInfo> infos;
  if (ua::isBad(readNodeInfo(*session_, nodes, infos))) return E_FAIL;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const NodeInfo& info = infos[i];
    if (FAILED(info.error)) continue;
    if ((info.accessRights & dwAccessRightsFilter) != dwAccessRightsFilter) continue;
    if (!convertibleType(info.canonicalType, vtDataTypeFilter)) continue;
    // Text items are listed for text only: that some text reads as a
    // number does not make the item a number.
    if ((info.canonicalType & VT_TYPEMASK) == VT_BSTR && vtDataTypeFilter != VT_EMPTY &&
        (vtDataTypeFilter & VT_TYPEMASK) != VT_BSTR) {
      continue;
    }
    names.push_back(std::move(candidates[i].first));
  }
  return enumerate(std::move(names), ppIEnumString);
}

HRESULT UaBrowser::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (szItemID) *szItemID = nullptr;
  if (!szItemID) return E_INVALIDARG;
  const auto name = boundedView(szItemDataID, kMaxIdLength);
  if (!name) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  if (name->empty()) return stringOut(itemIdText(path_.back().node), szItemID);
  HRESULT hr = S_OK;
  for (const auto& c : positionChildren(&hr)) {
    if (c.name == *name) return stringOut(itemIdText(c.node), szItemID);
  }
  // A full item id (as OPC_FLAT lists them) of a node the server knows.
  ua::NodeId id;
  if (FAILED(parseItemId(*name, session_->namespaces, id))) return E_INVALIDARG;
  std::vector<ua::DataValue> values;
  if (ua::isBad(session_->client.read({ua::ReadValueId(id, ua::attributes::NodeClass)}, values,
                                      ua::TimestampsToReturn::Neither)) ||
      values.size() != 1 || ua::isBad(values[0].status)) {
    return E_INVALIDARG;
  }
  return stringOut(itemIdText(id), szItemID);
}

HRESULT UaBrowser::BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  if (!ppIEnumString) return E_INVALIDARG;
  const auto text = boundedView(szItemID, kMaxIdLength);
  ua::NodeId id;
  if (!szItemID || !text) return OPC_E_INVALIDITEMID;
  if (HRESULT hr = parseItemId(*text, session_->namespaces, id); FAILED(hr)) return hr;
  // UA servers have no access paths: an empty list, as for any DA server
  // without them.
  return enumerate({}, ppIEnumString);
}

}  // namespace veze6::uab
