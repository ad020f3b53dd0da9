// Endpoint classes: servers reached by a URL rather than by a module. A
// layer that speaks a URL scheme (e.g. "opc.tcp") registers a factory for it;
// registration-file sections with an Endpoint key and server names given as
// URLs are created through that factory. The platform layer itself knows no
// scheme, so hosts that link no such layer see these classes listed but
// cannot create them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "objidl.h"
#include "opcexport.h"

namespace opc {

/// How to reach one server: its URL and the optional security settings of a
/// registration-file section. Text as given (UTF-8), trimmed.
struct EndpointSettings {
  std::string url;
  std::string securityPolicy;  ///< empty: the scheme's default
  std::string securityMode;    ///< empty: the scheme's default
  std::string user;            ///< empty: anonymous
  /// The file holding the user's password (first line); absolute.
  std::filesystem::path passwordFile;
};

/// Makes the server object for the settings and queries it for riid.
using EndpointFactory = std::function<HRESULT(const EndpointSettings&, REFIID riid, void** ppv)>;

/// Installs (or replaces) the factory for a URL scheme; schemes compare
/// without regard to case. Thread-safe.
VEZE6_OPC_EXPORT void registerEndpointScheme(std::string_view scheme, EndpointFactory factory);
VEZE6_OPC_EXPORT void unregisterEndpointScheme(std::string_view scheme);

/// The scheme of "scheme://rest", lower case; empty for text of another form.
VEZE6_OPC_EXPORT std::string endpointScheme(std::string_view url);
/// True when the text is a URL of a registered scheme.
VEZE6_OPC_EXPORT bool isEndpointUrl(std::string_view text);

/// Creates the server object through the factory of the URL's scheme:
/// REGDB_E_CLASSNOTREG when no factory is registered for it, E_INVALIDARG
/// for text that is no URL, else whatever the factory answers.
VEZE6_OPC_EXPORT HRESULT createEndpointObject(const EndpointSettings& settings, REFIID riid, void** ppv);

}  // namespace opc
