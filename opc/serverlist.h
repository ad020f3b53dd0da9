// The OPC server list object (CLSID_OPCServerList, IOPCServerList): lists
// the classes of the class registry by component category and gives their
// ProgIDs and user-type texts. It is registered in every process's class
// registry from the start, so clients create it with CoCreateInstance or
// CoCreateInstanceEx like any other class.
#pragma once

#include <string_view>

#include "classregistry.h"
#include "opcexport.h"

namespace opc {

inline constexpr std::u16string_view kServerListProgId = u"OPC.ServerList.1";
inline constexpr std::u16string_view kServerListUserType = u"OPC Server List";

namespace detail {
/// The registry entry of the server list object (no categories, no "OPC"
/// marker: it is not a server itself).
VEZE6_OPC_EXPORT ClassEntry serverListClassEntry();
}  // namespace detail

}  // namespace opc
