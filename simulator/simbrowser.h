// Browsing the simulation server's address space (the server object's
// IOPCBrowseServerAddressSpace).
//
// Hierarchical (the default): branches are the parts of item ids before the
// last '.', leaves the items' own names. ChangeBrowsePosition moves UP (E_FAIL
// at the root), DOWN into a child branch (E_INVALIDARG for a name that is no
// child branch) or TO a branch given by its full path ("" or null: the root;
// E_INVALIDARG for anything else, an item id included). BrowseOPCItemIDs
// lists the branches (OPC_BRANCH) or leaves (OPC_LEAF) at the position by
// their names, or (OPC_FLAT) the full ids of every item at and below it.
// GetItemID turns a name listed at the position into its full id, and
// accepts a full id (as OPC_FLAT lists them) unchanged; "" gives the
// position's own path.
//
// Flat (SimulationOptions::flatAddressSpace): OPC_LEAF and OPC_FLAT list
// every item's full id, OPC_BRANCH nothing, and ChangeBrowsePosition fails
// with E_FAIL.
//
// Listing filters: the name filter (opc/namefilter.h) applies to what is listed
// (names, or full ids for OPC_FLAT); the data type filter (VT_EMPTY: any)
// keeps items whose value converts to that type; the access-rights filter
// (0: any) keeps items that have every right of the mask. Branches are
// filtered by name only. Nothing listed: S_FALSE with an empty enumerator.
// Items standing for properties (simproperties.h) are never listed.
#pragma once

#include <string>
#include <vector>

#include "addressspace.h"
#include "opc/OPCDA.h"
#include "opc/namefilter.h"

namespace veze6::sim::detail {

/// Longest name filter read from a caller; longer ones are OPC_E_INVALIDFILTER.
inline constexpr std::size_t kMaxBrowseFilterLength = 4096;

struct BrowseQuery {
  OPCBROWSETYPE type = OPC_FLAT;
  opc::NameFilter filter;
  VARTYPE dataType = VT_EMPTY;
  DWORD accessRights = 0;
};

/// What BrowseOPCItemIDs lists at `position` (null: the root). Call with the
/// server's lock held.
std::vector<std::u16string> browseNames(const AddressSpace& space, const Branch* position,
                                        bool flat, const BrowseQuery& query);

}  // namespace veze6::sim::detail
