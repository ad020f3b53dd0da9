// IOPCGroupStateMgt as the groups of every server object answer it, besides
// what their servers do with a changed rate or active state: the argument
// checks, GetState's outputs and what a clone starts with.
#pragma once

#include "OPCDA.h"
#include "opcexport.h"
#include "servercommon.h"

namespace opc {

/// GetState's checks: the name nulled, E_INVALIDARG for a missing pointer.
VEZE6_OPC_EXPORT HRESULT checkGetState(const DWORD* pUpdateRate, const BOOL* pActive,
                                       LPWSTR* ppName, const LONG* pTimeBias,
                                       const FLOAT* pPercentDeadband, const DWORD* pLCID,
                                       const OPCHANDLE* phClientGroup,
                                       const OPCHANDLE* phServerGroup);
/// GetState's outputs (checked) for a group whose state is what a new group
/// with these settings would start with; E_OUTOFMEMORY when the name cannot
/// be had.
VEZE6_OPC_EXPORT HRESULT getStateAnswer(const GroupSettings& state, OPCHANDLE serverHandle,
                                        DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                        LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                        OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup);

/// SetState's checks: E_INVALIDARG without the revised rate's pointer or
/// for a dead band outside 0..100.
VEZE6_OPC_EXPORT HRESULT checkSetState(const DWORD* pRevisedUpdateRate,
                                       const FLOAT* pPercentDeadband);

/// SetName's check: E_INVALIDARG for a missing or empty name.
VEZE6_OPC_EXPORT HRESULT checkGroupName(LPCWSTR szName);

/// What CloneGroup's copy starts with: the group's state, inactive, named
/// szName (none: the server invents a name).
VEZE6_OPC_EXPORT GroupSettings cloneSettings(GroupSettings state, LPCWSTR szName);

}  // namespace opc
