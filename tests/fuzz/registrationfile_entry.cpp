#include "registrationfile_entry.h"

#include <algorithm>
#include <string_view>

#include "opc/guid.h"
#include "opc/registrationfiles.h"
#include "opc/taskmem.h"

namespace veze6fuzz {

namespace {

const std::filesystem::path kFile = "/fuzz/servers.d/input.conf";

std::string guidText(const GUID& g) {
  OLECHAR buffer[40];
  const int n = StringFromGUID2(g, buffer, 40);
  return opc::utf16ToUtf8(std::u16string_view(buffer, n > 0 ? std::size_t(n - 1) : 0));
}

// The classes as a registration file says them, every value explicit.
std::string write(const std::vector<opc::RegisteredClass>& classes) {
  std::string out;
  const auto key = [&](const char* name, const std::string& value) {
    if (!value.empty()) out += std::string(name) + " = " + value + "\n";
  };
  for (const auto& c : classes) {
    out += "[" + guidText(c.clsid) + "]\n";
    key("ProgID", opc::utf16ToUtf8(c.progId));
    key("UserType", opc::utf16ToUtf8(c.userType));
    std::string categories;
    for (const auto& cat : c.categories)
      categories += (categories.empty() ? "" : ", ") + guidText(cat);
    key("Categories", categories);
    key("OPC", c.opcMarker ? "1" : "0");
    key("Module", c.module.string());
    key("Endpoint", c.endpoint.url);
    key("SecurityPolicy", c.endpoint.securityPolicy);
    key("SecurityMode", c.endpoint.securityMode);
    key("User", c.endpoint.user);
    key("PasswordFile", c.endpoint.passwordFile.string());
  }
  return out;
}

bool same(const opc::RegisteredClass& a, const opc::RegisteredClass& b) {
  return a.clsid == b.clsid && a.progId == b.progId && a.userType == b.userType &&
         a.categories == b.categories && a.opcMarker == b.opcMarker && a.module == b.module &&
         a.endpoint.url == b.endpoint.url &&
         a.endpoint.securityPolicy == b.endpoint.securityPolicy &&
         a.endpoint.securityMode == b.endpoint.securityMode && a.endpoint.user == b.endpoint.user &&
         a.endpoint.passwordFile == b.endpoint.passwordFile;
}

std::string checkClass(const opc::RegisteredClass& c, std::size_t lines) {
  const std::string prefix = kFile.string() + ":";
  if (!c.source.starts_with(prefix)) return "source '" + c.source + "' does not name the file";
  const std::string line = c.source.substr(prefix.size());
  if (line.empty() || line.size() > 10 || !std::all_of(line.begin(), line.end(), ::isdigit) ||
      std::stoull(line) == 0 || std::stoull(line) > lines)
    return "source '" + c.source + "' names no line of the file";
  const bool security = !c.endpoint.securityPolicy.empty() || !c.endpoint.securityMode.empty() ||
                        !c.endpoint.user.empty() || !c.endpoint.passwordFile.empty();
  if (!c.module.empty() && !c.endpoint.url.empty()) return c.source + ": module and endpoint";
  if (c.endpoint.url.empty() && security) return c.source + ": security without an endpoint";
  if (!c.endpoint.url.empty() && c.categories.empty()) return c.source + ": endpoint, no category";
  if (!c.module.empty() && !c.module.is_absolute()) return c.source + ": relative module";
  if (!c.endpoint.passwordFile.empty() && !c.endpoint.passwordFile.is_absolute())
    return c.source + ": relative password file";
  for (auto it = c.categories.begin(); it != c.categories.end(); ++it) {
    if (std::find(it + 1, c.categories.end(), *it) != c.categories.end())
      return c.source + ": a category twice";
  }
  return {};
}

}  // namespace

std::string RunRegistrationFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  const auto classes = opc::parseRegistrationFile(text, kFile, warnings);
  if (warnings.size() > opc::kMaxWarningsPerRegistrationFile + 1)
    return std::to_string(warnings.size()) + " warnings";
  const std::size_t lines = std::size_t(std::count(text.begin(), text.end(), '\n')) + 1;
  for (auto it = classes.begin(); it != classes.end(); ++it) {
    if (std::string failure = checkClass(*it, lines); !failure.empty()) return failure;
    const auto twice =
        std::find_if(it + 1, classes.end(), [&](const auto& c) { return c.clsid == it->clsid; });
    if (twice != classes.end()) return it->source + " and " + twice->source + ": the same class";
  }

  const std::string written = write(classes);
  std::vector<std::string> again;
  const auto reread = opc::parseRegistrationFile(written, kFile, again);
  if (!again.empty()) return "the classes written back warn: " + again.front() + "\n" + written;
  if (reread.size() != classes.size()) return "the classes written back parse to another count";
  for (std::size_t i = 0; i < classes.size(); ++i) {
    if (!same(classes[i], reread[i]))
      return classes[i].source + " written back parses to another class:\n" + written;
  }
  return {};
}

}  // namespace veze6fuzz
