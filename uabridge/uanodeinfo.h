// What an item is on the UA server: the attributes of variable nodes that
// the item management, the browser and the properties need, read in as few
// batched Reads as the server allows.
#pragma once

#include <cstdint>
#include <vector>

#include "opc/OPCDA.h"
#include "uasession.h"

namespace veze6::uab {

struct NodeInfo {
  /// S_OK for a variable; OPC_E_UNKNOWNITEMID for a node the server does
  /// not know or one that is no variable (it has no value to be an item);
  /// the result of the failed call when the whole read failed.
  HRESULT error = S_OK;
  ua::NodeClass nodeClass = ua::NodeClass::Unspecified;
  ua::NodeId dataType;
  /// What the values travel as (the data type resolved through its
  /// supertypes); Variant when it could not be resolved.
  ua::BuiltinType builtinType = ua::BuiltinType::Variant;
  std::int32_t valueRank = -1;
  VARTYPE canonicalType = VT_EMPTY;
  /// From UserAccessLevel: what this session's user may do.
  DWORD accessRights = 0;
  /// MinimumSamplingInterval in ms (-1: not known or not read, 0: continuous).
  double minimumSamplingInterval = -1;
  /// Empty when not read.
  ua::LocalizedText description;
};

/// How much readNodeInfo reads: what item management and browse filters
/// need (NodeClass, DataType, ValueRank, UserAccessLevel: four attributes a
/// node), or that and MinimumSamplingInterval and Description as well.
enum class NodeDetail { Item, Full };

/// Reads the attributes of every node. Returns the service's status: Bad
/// only when the server could not be asked; per-node outcomes are in each
/// NodeInfo::error. `infos` gets one entry per node.
ua::StatusCode readNodeInfo(UaSession& session, const std::vector<ua::NodeId>& nodes,
                            std::vector<NodeInfo>& infos, NodeDetail detail = NodeDetail::Item);

/// The built-in type of a data type node, following HasSubtype references
/// up to a type known in namespace 0; cached in the session. Variant when
/// the chain cannot be followed.
ua::BuiltinType resolveBuiltinType(UaSession& session, const ua::NodeId& dataType);

}  // namespace veze6::uab
