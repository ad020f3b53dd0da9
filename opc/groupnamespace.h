// The group name space of a server object: its groups in creation order,
// their unique names and handles, and the IOPCServer answers that only look
// at it. Every server object keeps one over its own group class.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "OPCDA.h"
#include "servercommon.h"
#include "unknown.h"

namespace opc {

/// Ids a server hands out that are never 0 (0 means "none" to a client):
/// group and item handles, request ids. Wraps past 0. Thread-safe.
class NonZeroIds {
 public:
  explicit NonZeroIds(DWORD first = 1) : next_(first) {}
  /// The id next() hands out unless another caller is first.
  DWORD peek() const {
    const DWORD id = next_.load();
    return id != 0 ? id : 1;
  }
  DWORD next() {
    const DWORD id = next_.fetch_add(1);
    return id != 0 ? id : next_.fetch_add(1);
  }

 private:
  std::atomic<DWORD> next_;
};

/// The groups a client can reach by name or handle. `G` is the server's
/// group class: `nameLocked()`, `serverHandle()` and `unknown()`. Guarded by
/// the server's own lock: the members called ...Locked expect it held, the
/// others take it.
template <class G>
class GroupNameSpace {
 public:
  const std::vector<ComPtr<G>>& groupsLocked() const { return groups_; }
  bool closedLocked() const { return closed_; }

  /// The group with that name, other than `except`.
  G* findLocked(std::u16string_view name, const G* except = nullptr) const {
    for (const auto& g : groups_) {
      if (g.get() != except && g->nameLocked() == name) return g.get();
    }
    return nullptr;
  }

  /// "GroupN" with the first N after the last one invented that no group
  /// uses.
  std::u16string uniqueNameLocked() {
    for (;;) {
      const std::string n = "Group" + std::to_string(++nameCounter_);
      std::u16string name(n.begin(), n.end());
      if (!findLocked(name)) return name;
    }
  }

  /// Whether a group named `name` may enter: RPC_E_DISCONNECTED once
  /// closed, OPC_E_DUPLICATENAME for a used name. An empty name is replaced
  /// by a unique one.
  HRESULT admitNameLocked(std::u16string& name) {
    if (closed_) return RPC_E_DISCONNECTED;
    if (name.empty()) {
      name = uniqueNameLocked();
    } else if (findLocked(name)) {
      return OPC_E_DUPLICATENAME;
    }
    return S_OK;
  }

  /// The handle the next group gets; takeHandle() uses it up.
  OPCHANDLE nextHandleLocked() const { return handles_.peek(); }
  OPCHANDLE takeHandleLocked() { return handles_.next(); }

  void addLocked(ComPtr<G> group) { groups_.push_back(std::move(group)); }

  /// Takes the group out; null when the handle is unknown.
  ComPtr<G> takeLocked(OPCHANDLE serverHandle) {
    const auto it = std::find_if(groups_.begin(), groups_.end(),
                                 [&](const auto& g) { return g->serverHandle() == serverHandle; });
    if (it == groups_.end()) return {};
    ComPtr<G> taken = std::move(*it);
    groups_.erase(it);
    return taken;
  }

  /// The server object is going: no group enters any more. The groups are
  /// handed back to be released unlocked.
  std::vector<ComPtr<G>> closeLocked() {
    closed_ = true;
    return std::exchange(groups_, {});
  }

  /// GetGroupByName's answer.
  HRESULT groupByName(std::mutex& lock, LPCWSTR szName, REFIID riid, IUnknown** ppUnk) const {
    if (ppUnk) *ppUnk = nullptr;
    if (!szName || !ppUnk) return E_INVALIDARG;
    ComPtr<G> group;
    {
      std::lock_guard guard(lock);
      group = ComPtr<G>(findLocked({szName, wideLength(szName)}));
    }
    if (!group) return E_INVALIDARG;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  }

  /// CreateGroupEnumerator's answer.
  HRESULT groupEnumerator(std::mutex& lock, OPCENUMSCOPE scope, REFIID riid,
                          IUnknown** ppUnk) const {
    bool privateGroups = false;
    if (HRESULT hr = checkGroupEnumerator(scope, riid, ppUnk, privateGroups); FAILED(hr)) return hr;
    std::vector<ComPtr<IUnknown>> groups;
    std::vector<std::u16string> names;
    if (privateGroups) {
      std::lock_guard guard(lock);
      for (const auto& g : groups_) {
        groups.emplace_back(g->unknown());
        names.push_back(g->nameLocked());
      }
    }
    return makeGroupEnumerator(riid, std::move(groups), std::move(names), ppUnk);
  }

 private:
  std::vector<ComPtr<G>> groups_;  ///< in creation order
  bool closed_ = false;
  std::size_t nameCounter_ = 0;
  NonZeroIds handles_;
};

/// RemoveGroup's answer for a group just taken out of the name space: it
/// held the only reference unless the client still holds the group, which
/// keeps answering either way. (Server-side work on a group, such as a scan,
/// must therefore not hold its own reference across the call, or the answer
/// would be in use wrongly.)
template <class G>
HRESULT removedGroupResult(ComPtr<G> taken, BOOL bForce) {
  const bool inUse = taken->refCount() > 1;
  taken.reset();
  return inUse && !bForce ? OPC_S_INUSE : S_OK;
}

}  // namespace opc
