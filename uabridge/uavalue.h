// Values between the two worlds: item id text <-> UA node ids, UA variants
// <-> VARIANTs, data types -> canonical VARTYPEs, UA status codes -> DA
// qualities and per-item result codes, the server's status -> the DA status
// record. Pure functions: nothing here talks to the server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/variant.h"
#include "ua/attributetypes.h"
#include "ua/types.h"

namespace veze6::uab {

// --- item ids -------------------------------------------------------------

/// Parses an item id in the node id text form: "ns=2;s=Line1.Temp",
/// "ns=3;i=1001", "g=<guid>", "b=<base64>", "nsu=<uri>;s=..." (ns=0 may be
/// left out). S_OK with `out` set; OPC_E_INVALIDITEMID for text that is no
/// node id; OPC_E_UNKNOWNITEMID for a namespace index or URI that is not in
/// `namespaces` (the server's array read at connect).
HRESULT parseItemId(std::u16string_view text, const std::vector<std::string>& namespaces,
                    ua::NodeId& out);
/// The item id of a node: its text form with "ns=" (never "nsu=").
std::u16string itemIdText(const ua::NodeId& id);
/// The node an expanded id names on this server; nothing for a node on
/// another server or in a namespace this server does not list.
std::optional<ua::NodeId> localNodeId(const ua::ExpandedNodeId& id,
                                      const std::vector<std::string>& namespaces);

// --- data types -----------------------------------------------------------

/// The built-in type whose values a namespace-0 data type node stands for
/// (Enumeration and its subtypes: Int32; Structure: ExtensionObject;
/// abstract types such as BaseDataType and Number: Variant). Nothing for a
/// node outside namespace 0 or one not known here; resolve those through
/// their supertypes (uanodeinfo.h).
std::optional<ua::BuiltinType> knownBuiltinType(const ua::NodeId& dataType);
/// The canonical VARTYPE of values of the built-in type with the value
/// rank (-1 scalar, -2 any, -3 scalar or one dimension, 0 and above an
/// array). `dataType` tells apart the structures with a mapping of their
/// own (Range, EUInformation); pass a null id when not known.
VARTYPE canonicalType(ua::BuiltinType type, std::int32_t valueRank,
                      const ua::NodeId& dataType = {});

// --- values ---------------------------------------------------------------

/// A UA value as a VARIANT (the caller owns `*out` and clears it). S_OK, or
/// DISP_E_BADVARTYPE for a value without a mapping (`*out` then VT_EMPTY).
/// A multi-dimensional array is handed out as one dimension, its elements
/// in the order they travel.
HRESULT variantFromUa(const ua::Variant& value, VARIANT* out);
/// A VARIANT as a UA value of the built-in type and value rank of a node,
/// converted with VariantChangeType. S_OK; OPC_E_BADTYPE when the value
/// does not convert (an array for a scalar node included); OPC_E_RANGE when
/// it does not fit the type.
HRESULT uaFromVariant(const VARIANT& value, ua::BuiltinType type, std::int32_t valueRank,
                      ua::Variant& out);
/// A value converted to the type a client asked for (VT_EMPTY: unchanged).
/// S_OK, OPC_E_BADTYPE or OPC_E_RANGE; `*out` VT_EMPTY on failure.
HRESULT changeToRequestedType(const VARIANT& value, VARTYPE requested, VARIANT* out);

/// Whether values of the canonical type can convert to the requested one (a
/// requested type at AddItems, the browser's data type filter): VT_EMPTY,
/// VARIANT elements and text to any scalar always (decided by each value);
/// otherwise judged on a zero of the canonical type.
bool convertibleType(VARTYPE canonical, VARTYPE requested);

/// Range structure (EURange, InstrumentRange): low and high.
std::optional<std::pair<double, double>> decodeRange(const ua::ExtensionObject& range);
/// EUInformation structure: its display name.
std::optional<ua::LocalizedText> decodeEuDisplayName(const ua::ExtensionObject& info);

// --- time, quality, results -------------------------------------------------

/// A UA time as FILETIME (the same ticks; negative times give 0).
FILETIME fileTimeFromUa(ua::DateTime t);
/// A UA time as an automation date (days since 1899-12-30, UTC).
DATE dateFromUa(ua::DateTime t);
ua::DateTime uaFromDate(DATE d);

/// The DA quality (quality, substatus; limit bits 0) of a UA status code.
WORD qualityFromStatus(ua::StatusCode status);
/// The DA result code of a per-item UA status: S_OK for Good and
/// Uncertain, the OPC code where one fits (BadNodeIdUnknown
/// OPC_E_UNKNOWNITEMID, BadNotWritable OPC_E_BADRIGHTS, BadOutOfRange
/// OPC_E_RANGE, BadTypeMismatch OPC_E_BADTYPE...), E_FAIL otherwise.
HRESULT resultFromStatus(ua::StatusCode status);

/// One item's value, quality, time stamp and result from a UA data value:
/// the source time stamp, else the server's; a value that has no mapping
/// gives VT_EMPTY, bad quality and its error.
struct ItemValue {
  OleVariant value;
  WORD quality = OPC_QUALITY_BAD;
  FILETIME timestamp{};
  HRESULT error = S_OK;
};
ItemValue itemValueFromUa(const ua::DataValue& dataValue);

/// The access rights (OPC_READABLE, OPC_WRITEABLE) of an AccessLevel.
DWORD accessRightsFromUa(std::uint8_t accessLevel);

/// Fills the status fields the server's status gives: start and current
/// time, state, version (major.minor from the software version, build
/// number) and vendor text ("manufacturer product", task memory the caller
/// frees: any previous szVendorInfo is not freed). The group count and
/// bandwidth are left as they are. E_OUTOFMEMORY when the text cannot be
/// allocated.
HRESULT fillServerStatus(const ua::ServerStatus& status, OPCSERVERSTATUS& out);

}  // namespace veze6::uab
