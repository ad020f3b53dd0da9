#include "groupstate.h"

#include "taskmem.h"

namespace opc {

HRESULT checkGetState(const DWORD* pUpdateRate, const BOOL* pActive, LPWSTR* ppName,
                      const LONG* pTimeBias, const FLOAT* pPercentDeadband, const DWORD* pLCID,
                      const OPCHANDLE* phClientGroup, const OPCHANDLE* phServerGroup) {
  if (ppName) *ppName = nullptr;
  if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
      !phClientGroup || !phServerGroup) {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT getStateAnswer(const GroupSettings& state, OPCHANDLE serverHandle, DWORD* pUpdateRate,
                       BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                       DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) {
  *pUpdateRate = state.requestedUpdateRate;
  *pActive = state.active ? TRUE : FALSE;
  *pTimeBias = state.timeBias;
  *pPercentDeadband = state.percentDeadband;
  *pLCID = state.lcid;
  *phClientGroup = state.clientHandle;
  *phServerGroup = serverHandle;
  *ppName = taskStringDup(state.name);
  return *ppName ? S_OK : E_OUTOFMEMORY;
}

HRESULT checkSetState(const DWORD* pRevisedUpdateRate, const FLOAT* pPercentDeadband) {
  if (!pRevisedUpdateRate) return E_INVALIDARG;
  // Written so that NaN fails too.
  if (pPercentDeadband && !(*pPercentDeadband >= 0.0f && *pPercentDeadband <= 100.0f)) {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT checkGroupName(LPCWSTR szName) { return szName && *szName ? S_OK : E_INVALIDARG; }

GroupSettings cloneSettings(GroupSettings state, LPCWSTR szName) {
  state.name = szName ? std::u16string(szName, wideLength(szName)) : std::u16string();
  state.active = false;  // a clone starts inactive
  return state;
}

}  // namespace opc
