// The OPC server list object (CLSID_OPCServerList, IOPCServerList): lists
// the classes of the class registry by component category and gives their
// ProgIDs and user-type texts. It is registered in every process's class
// registry from the start, so clients create it with CoCreateInstance or
// CoCreateInstanceEx like any other class.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "classentry.h"
#include "opcexport.h"

namespace opc {

inline constexpr std::u16string_view kServerListProgId = u"OPC.ServerList.1";
inline constexpr std::u16string_view kServerListUserType = u"OPC Server List";

namespace detail {
/// What the server list object reads of the class registry.
struct ServerListSource {
  std::function<std::vector<ClassEntry>()> entries;  ///< every visible entry
  std::function<std::optional<ClassEntry>(REFCLSID)> find;
  std::function<HRESULT(LPCOLESTR progId, CLSID* clsid)> clsidFromProgId;
};

/// The registry entry of the server list object (no categories, no "OPC"
/// marker: it is not a server itself); its instances read `source`.
VEZE6_OPC_EXPORT ClassEntry serverListClassEntry(ServerListSource source);
}  // namespace detail

}  // namespace opc
