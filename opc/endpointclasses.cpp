#include "endpointclasses.h"

#include <map>
#include <mutex>

#include "asciitext_p.h"

namespace opc {

namespace {

std::mutex g_mutex;
std::map<std::string, EndpointFactory>& factories() {  // guarded by g_mutex
  static std::map<std::string, EndpointFactory> map;
  return map;
}

using detail::asciiLower;

bool schemeChar(char c, bool first) {
  const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (first) return alpha;
  return alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

EndpointFactory factoryFor(const std::string& scheme) {
  std::lock_guard lock(g_mutex);
  const auto it = factories().find(scheme);
  return it == factories().end() ? EndpointFactory() : it->second;
}

}  // namespace

void registerEndpointScheme(std::string_view scheme, EndpointFactory factory) {
  std::lock_guard lock(g_mutex);
  factories()[asciiLower(scheme)] = std::move(factory);
}

void unregisterEndpointScheme(std::string_view scheme) {
  std::lock_guard lock(g_mutex);
  factories().erase(asciiLower(scheme));
}

std::string endpointScheme(std::string_view url) {
  const auto end = url.find("://");
  if (end == std::string_view::npos || end == 0) return {};
  for (std::size_t i = 0; i < end; ++i) {
    if (!schemeChar(url[i], i == 0)) return {};
  }
  return asciiLower(url.substr(0, end));
}

bool isEndpointUrl(std::string_view text) {
  const std::string scheme = endpointScheme(text);
  return !scheme.empty() && factoryFor(scheme);
}

HRESULT createEndpointObject(const EndpointSettings& settings, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const std::string scheme = endpointScheme(settings.url);
  if (scheme.empty()) return E_INVALIDARG;
  // Called unlocked: a factory may register classes or look them up.
  const EndpointFactory factory = factoryFor(scheme);
  if (!factory) return REGDB_E_CLASSNOTREG;
  const HRESULT hr = factory(settings, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

}  // namespace opc
