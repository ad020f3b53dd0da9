// The state one connection to a UA server shares among the bridge's server
// object, its groups, its browser and its item properties: the client, the
// server's namespace array and operation limits as read at connect, and a
// cache of what each data type node resolves to.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ua/client.h"

namespace veze6::uab {

struct UaSession {
  /// Service calls may come from any thread but the client's I/O thread.
  ua::Client client;
  /// Index -> URI as read at connect; item ids with "ns=" refer to it.
  std::vector<std::string> namespaces;
  ua::OperationLimits limits;

  /// Takes the namespace array and limits from the connected client; call
  /// after every successful connect, before the session is shared.
  void captureServerFacts() {
    namespaces = client.namespaces();
    limits = client.operationLimits();
    std::lock_guard lock(cacheMutex);
    builtinTypes.clear();
  }

  /// The index of a namespace URI; nothing for a URI the server lacks.
  std::optional<std::uint16_t> namespaceIndex(std::string_view uri) const {
    for (std::size_t i = 0; i < namespaces.size() && i <= 0xFFFF; ++i) {
      if (namespaces[i] == uri) return std::uint16_t(i);
    }
    return std::nullopt;
  }

  /// Data type node (its text form) -> the built-in type its values travel
  /// as; filled by resolveBuiltinType (uavalue.h), guarded by cacheMutex.
  std::mutex cacheMutex;
  std::map<std::string, ua::BuiltinType> builtinTypes;
};

}  // namespace veze6::uab
