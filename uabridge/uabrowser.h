// Browsing a UA server's address space as a DA hierarchy (the bridge's
// server object forwards IOPCBrowseServerAddressSpace here, method for
// method, same arguments and results).
//
// Hierarchical, rooted at the Objects folder, along hierarchical references
// (properties, HasProperty, are not listed). Branches are nodes with
// hierarchical children: objects, folders and views, and variables that
// have children of their own; leaves are variables (a variable with
// children is listed both ways). Names are browse names without their
// namespace prefix; names are unique per position (a second child with the
// same name gets " (2)"... appended) so a name always leads to one node.
//
// ChangeBrowsePosition: UP (E_FAIL at the root), DOWN into a branch listed
// at the position (E_INVALIDARG otherwise), TO "" for the root, a dotted
// path of names from the root ("Tree.A.B") or the item id of a branch
// ("ns=2;s=Tree.A.B"; its position is then that node, one level below the
// root when the server gives no path to it). BrowseOPCItemIDs with
// OPC_BRANCH/OPC_LEAF lists names at the position, OPC_FLAT the item ids of
// every variable at and below it (each once, loops in the server's graph
// cut, at most kMaxFlatItems). Filters: the DA name filter on names (item
// ids for OPC_FLAT), the data type filter (items whose canonical type
// converts to it), the access-rights filter (items with every right of
// the mask); branches are filtered by name only. Nothing listed: S_FALSE
// and an empty enumerator. GetItemID: a name listed at the position gives
// its node's item id, "" the position's, and a full item id of a known node
// is returned as it is. BrowseAccessPaths: UA has no access paths, so an
// empty enumerator with S_FALSE.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opc/OPCDA.h"
#include "uasession.h"

namespace veze6::uab {

class UaBrowser {
 public:
  /// Longest name filter read from a caller; longer is OPC_E_INVALIDFILTER.
  static constexpr std::size_t kMaxFilterLength = 4096;
  /// Longest item id or path read from a caller.
  static constexpr std::size_t kMaxIdLength = 4096;
  /// Most item ids one OPC_FLAT listing collects.
  static constexpr std::size_t kMaxFlatItems = 100000;

  explicit UaBrowser(std::shared_ptr<UaSession> session);

  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType);
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString);
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           IEnumString** ppIEnumString);
  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID);
  HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString);

 private:
  struct Child {
    std::u16string name;
    ua::NodeId node;
    ua::NodeClass nodeClass = ua::NodeClass::Unspecified;
  };
  struct Level {
    std::u16string name;  ///< as listed at the level above; empty for the root
    ua::NodeId node;
  };

  std::vector<Child> children(const ua::NodeId& node, HRESULT* hr);
  /// The children of the position as last listed there (a fresh browse when
  /// the position moved since): names resolve as they were listed, without a
  /// browse per name.
  const std::vector<Child>& positionChildren(HRESULT* hr);
  HRESULT collectFlat(const ua::NodeId& start, std::vector<ua::NodeId>& variables);
  /// The position a dotted path of names from the root leads to.
  HRESULT pathOfNames(std::u16string_view names, std::vector<Level>& path);
  /// The position of a branch given by its item id.
  HRESULT pathToItem(std::u16string_view itemId, std::vector<Level>& path);

  std::shared_ptr<UaSession> session_;
  std::mutex mutex_;         ///< guards path_
  std::vector<Level> path_;  ///< root (Objects) first; never empty
  ua::NodeId listedAt_;      ///< the position listedChildren_ belongs to
  std::vector<Child> listedChildren_;
  bool listed_ = false;
};

}  // namespace veze6::uab
