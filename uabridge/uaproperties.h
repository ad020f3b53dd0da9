// Item properties of a UA variable (the bridge's server object forwards
// IOPCItemProperties here, method for method, same arguments and results).
//
// Every variable has 1-6: canonical data type, value, quality, time stamp
// (read now from the server), access rights (UserAccessLevel: what this
// session's user may do) and scan rate (MinimumSamplingInterval, when the server
// gives one). 7 (EU type) and 8 (EU info) follow the variable's EURange
// (analog: [low, high]) or EnumStrings (enumerated: the texts); 100 is the
// EngineeringUnits' display name, 101 the Description, 102/103 and 104/105
// high and low of EURange and InstrumentRange, each where present.
//
// LookupItemIDs gives an item id only where reading that item yields the
// property's value: the EnumStrings node for 8. EURange, InstrumentRange
// and EngineeringUnits are nodes too, but their values are structures
// rather than the number or text the property is, so 100 and 102-105 (like
// the attributes 1-6 and 101) have no item id: OPC_E_INVALID_PID.
#pragma once

#include <memory>

#include "opc/OPCDA.h"
#include "uasession.h"

namespace veze6::uab {

class UaProperties {
 public:
  explicit UaProperties(std::shared_ptr<UaSession> session);

  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                   LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes);
  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            VARIANT** ppvData, HRESULT** ppErrors);
  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors);

 private:
  std::shared_ptr<UaSession> session_;
};

}  // namespace veze6::uab
