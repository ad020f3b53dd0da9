// The bridge's server object: an OPC DA 2.0 server over one session with an
// OPC UA server. Interfaces: IOPCServer, IOPCCommon, IConnectionPointContainer
// (one point, IOPCShutdown), IOPCBrowseServerAddressSpace (uabrowser.h) and
// IOPCItemProperties (uaproperties.h).
//
// The loss of the session (channel closed, session dropped) and the server
// announcing its shutdown (its state turning to Shutdown) reach the shutdown
// sinks once, as ShutdownRequest with the reason, on their apartments.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/servercommon.h"
#include "uabrowser.h"
#include "uaproperties.h"
#include "uasession.h"

namespace veze6::uab {

namespace detail {
class ServerCore;
}  // namespace detail

class UaServer final : public opc::ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer,
                                             IOPCBrowseServerAddressSpace, IOPCItemProperties> {
 public:
  /// Takes a connected session.
  explicit UaServer(std::shared_ptr<UaSession> session);

  // IOPCServer
  HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                   OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                   OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                   IUnknown** ppUnk) override;
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override;
  HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) override;

  // IOPCCommon
  HRESULT SetLocaleID(LCID dwLcid) override;
  HRESULT GetLocaleID(LCID* pdwLcid) override;
  HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
  HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
  HRESULT SetClientName(LPCWSTR szName) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // IOPCBrowseServerAddressSpace
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           IEnumString** ppIEnumString) override;
  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override;

  // IOPCItemProperties
  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                   LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            VARIANT** ppvData, HRESULT** ppErrors) override;
  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

  /// Groups alive (in the name space or still held by a client) and their items.
  std::size_t liveGroupCount() const;
  std::size_t liveItemCount() const;
  /// UA requests made for this connection so far (benchmarks).
  std::uint64_t uaCallCount() const;

 protected:
  ~UaServer() override;

 private:
  /// What the UA client's I/O thread may hold of the server: the shutdown
  /// point and whether the request went out (never the session).
  struct Shutdown {
    explicit Shutdown(IConnectionPointContainer* container) : point(container) {}
    opc::ShutdownPoint point;
    std::atomic<bool> sent{false};
    void send(const std::u16string& reason);
  };
  void watchServerState();

  std::shared_ptr<detail::ServerCore> core_;
  opc::ServerCommon common_;
  std::shared_ptr<Shutdown> shutdown_;
  UaBrowser browser_;
  UaProperties properties_;
  std::uint32_t stateSubscription_ = 0;
};

}  // namespace veze6::uab
