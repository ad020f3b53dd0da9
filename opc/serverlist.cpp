#include "serverlist.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "OPCCOMN.h"
#include "taskmem.h"

namespace opc {

namespace {

// Mirrors the component-category query of the platform: "any of" the
// implemented categories and "all of" the required ones; a count of
// ULONG(-1) leaves that condition out.
constexpr ULONG kIgnoreCategories = ULONG(-1);

bool implementsAny(const ClassEntry& e, const CATID* ids, ULONG count) {
  return std::any_of(ids, ids + count, [&](const CATID& c) {
    return std::find(e.categories.begin(), e.categories.end(), c) != e.categories.end();
  });
}

bool implementsAll(const ClassEntry& e, const CATID* ids, ULONG count) {
  return std::all_of(ids, ids + count, [&](const CATID& c) {
    return std::find(e.categories.begin(), e.categories.end(), c) != e.categories.end();
  });
}

class ServerList final : public ComObject<IOPCServerList> {
 public:
  explicit ServerList(std::shared_ptr<const detail::ServerListSource> source)
      : source_(std::move(source)) {}

  HRESULT EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                  CATID rgcatidReq[], IEnumGUID** ppenumClsid) override {
    if (!ppenumClsid) return E_INVALIDARG;
    *ppenumClsid = nullptr;
    // Asking for classes of no category at all is a caller's mistake.
    if (cImplemented == 0) return E_INVALIDARG;
    if (cImplemented != kIgnoreCategories && !rgcatidImpl) return E_INVALIDARG;
    if (cRequired != kIgnoreCategories && cRequired != 0 && !rgcatidReq) return E_INVALIDARG;

    std::vector<GUID> found;
    for (const auto& e : source_->entries()) {
      if (cImplemented != kIgnoreCategories && !implementsAny(e, rgcatidImpl, cImplemented)) {
        continue;
      }
      if (cRequired != kIgnoreCategories && !implementsAll(e, rgcatidReq, cRequired)) continue;
      found.push_back(e.clsid);
    }
    *ppenumClsid = makeEnumGUID(std::move(found)).detach();
    return *ppenumClsid ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) override {
    if (ppszProgID) *ppszProgID = nullptr;
    if (ppszUserType) *ppszUserType = nullptr;
    if (!ppszProgID || !ppszUserType) return E_INVALIDARG;
    const auto entry = source_->find(clsid);
    if (!entry) return REGDB_E_CLASSNOTREG;
    TaskMem<OLECHAR> progId(taskStringDup(entry->progId));
    TaskMem<OLECHAR> userType(taskStringDup(entry->userType));
    if (!progId || !userType) return E_OUTOFMEMORY;
    *ppszProgID = progId.release();
    *ppszUserType = userType.release();
    return S_OK;
  }

  HRESULT CLSIDFromProgID(LPCOLESTR szProgId, CLSID* clsid) override {
    return source_->clsidFromProgId(szProgId, clsid);
  }

 private:
  std::shared_ptr<const detail::ServerListSource> source_;
};

}  // namespace

namespace detail {

ClassEntry serverListClassEntry(ServerListSource source) {
  auto shared = std::make_shared<const ServerListSource>(std::move(source));
  ClassEntry e;
  e.clsid = CLSID_OPCServerList;
  e.progId = kServerListProgId;
  e.userType = kServerListUserType;
  e.create = [shared](REFIID riid, void** ppv) -> HRESULT {
    return makeCom<ServerList>(shared)->QueryInterface(riid, ppv);
  };
  return e;
}

}  // namespace detail

}  // namespace opc
