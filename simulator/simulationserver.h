// The simulation server object: an in-process OPC DA 1.0/2.0 server with a
// simulated address space, created through the class registry (see
// registration.h) or directly with createSimulationServer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "addressspace.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/apartment.h"
#include "opc/servercommon.h"
#include "simclock.h"
#include "simulationcontrol.h"

namespace veze6::sim {

namespace detail {
class ServerCore;
}  // namespace detail

/// How a server is made.
struct SimulationOptions {
  /// Present only the DA 1.0 interfaces: no IConnectionPointContainer, no
  /// IOPCCommon, no IOPCItemProperties.
  bool da10Only = false;
  /// The fastest update rate; requested rates are revised to multiples of it.
  DWORD baseScanRateMs = 100;
  std::u16string vendorInfo = u"Vorlax veze6 OPC DA Simulation Server";
  /// Null: the system clock.
  std::shared_ptr<Clock> clock;
  /// Scans run only when the control interface asks (runScan, advance)
  /// instead of on the server's scan thread; see SimulationControl.
  bool manualScan = false;
  /// Fill the standard items (see AddressSpace::populateDefault) and make
  /// them live (see animateDefaultItems).
  bool defaultItems = true;
  /// Called on the server's own address space after the standard items, to
  /// add more (benchmarks, tests).
  std::function<void(AddressSpace&)> extendAddressSpace;
  /// Present the address space as a flat list of item ids instead of its
  /// tree (see SimulationControl::setFlatAddressSpace).
  bool flatAddressSpace = false;
};

/// Version numbers the server reports in its status.
inline constexpr WORD kSimulationMajorVersion = 1;
inline constexpr WORD kSimulationMinorVersion = 40;
inline constexpr WORD kSimulationBuildNumber = 1;

/// The server object. Interfaces: IOPCServer, IOPCCommon,
/// IConnectionPointContainer (one point, IOPCShutdown),
/// IOPCBrowseServerAddressSpace (simbrowser.cpp; the browse position is this
/// object's, so each client connection has its own), IOPCItemProperties
/// (simproperties.cpp) and SimulationControl.
/// Its state lives in a core shared with its groups, so a group the client
/// keeps after releasing the server still answers.
class SimulationServer final
    : public opc::ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer,
                            IOPCBrowseServerAddressSpace, IOPCItemProperties, SimulationControl> {
 public:
  explicit SimulationServer(const SimulationOptions& options);

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

  // SimulationControl
  std::size_t requestShutdown(std::u16string_view reason) override;
  std::size_t shutdownSinkCount() const override;
  void setServerState(OPCSERVERSTATE state) override;
  OPCSERVERSTATE serverState() const override;
  void failCall(SimCall call, HRESULT result, int times = kUntilCleared) override;
  void clearFailure(SimCall call) override;
  void clearFailures() override;
  void setQuirk(Quirk quirk, bool enabled) override;
  std::size_t callCount(SimCall call) const override;
  void setBaseScanRate(DWORD milliseconds) override;
  DWORD baseScanRate() const override;
  void setClock(std::shared_ptr<Clock> clock) override;
  void setStartTime(FILETIME time) override;
  void setLastUpdateTime(FILETIME time) override;
  void setVendorInfo(std::u16string_view text) override;
  std::u16string clientName() const override;
  LCID localeId() const override;
  std::size_t groupCount() const override;
  std::size_t liveGroupCount() const override;
  std::size_t liveItemCount() const override;
  bool isDA10Only() const override;
  HRESULT itemValue(std::u16string_view itemId, OleVariant& value) const override;
  HRESULT setItemValue(std::u16string_view itemId, const OleVariant& value) override;
  HRESULT setItemQuality(std::u16string_view itemId, WORD quality) override;
  HRESULT itemQuality(std::u16string_view itemId, WORD& quality) const override;
  void setManualScan(bool manual) override;
  bool manualScan() const override;
  std::size_t runScan() override;
  std::size_t advance(std::chrono::milliseconds step) override;
  void setFlatAddressSpace(bool flat) override;
  bool flatAddressSpace() const override;

 protected:
  ~SimulationServer() override;
  bool interfaceEnabled(REFIID riid) const override;

 private:
  std::shared_ptr<detail::ServerCore> core_;
  opc::ServerCommon common_;
  opc::ShutdownPoint shutdown_;
  // Browsing (simbrowser.cpp), guarded by the core's lock.
  bool flatAddressSpace_;
  const Branch* browsePosition_ = nullptr;  ///< null: the root
};

/// Creates a server object with the given options and runs the creation
/// hooks. The reference returned is the caller's.
ComPtr<IOPCServer> createSimulationServer(const SimulationOptions& options = {});

}  // namespace veze6::sim
