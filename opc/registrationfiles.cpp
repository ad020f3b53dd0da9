#include "registrationfiles.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "OPCDA.h"
#include "asciitext_p.h"
#include "guid.h"
#include "taskmem.h"

namespace opc {

// ---- Folders ------------------------------------------------------------------

namespace {

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::filesystem::path serversFolder(const std::filesystem::path& base) {
  return base / "veze6" / "servers.d";
}

}  // namespace

std::vector<std::filesystem::path> registrationFolders() {
  std::vector<std::filesystem::path> out;
  std::vector<std::filesystem::path> system;
  const std::string dirs = environment("XDG_CONFIG_DIRS");
  std::istringstream in(dirs.empty() ? std::string("/etc/xdg") : dirs);
  for (std::string dir; std::getline(in, dir, ':');) {
    // Relative entries are invalid by the folder convention and ignored.
    if (!dir.empty() && std::filesystem::path(dir).is_absolute()) system.emplace_back(dir);
  }
  // The first folder is the most important, so it is read last.
  for (auto it = system.rbegin(); it != system.rend(); ++it) out.push_back(serversFolder(*it));

  std::filesystem::path home(environment("XDG_CONFIG_HOME"));
  if (home.empty() || !home.is_absolute()) {
    const std::filesystem::path user(environment("HOME"));
    home = user.is_absolute() ? user / ".config" : std::filesystem::path();
  }
  if (!home.empty()) out.push_back(serversFolder(home));
  return out;
}

// ---- Parsing -------------------------------------------------------------------

namespace {

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

using detail::asciiLower;

std::optional<GUID> parseGuid(std::string_view text) {
  const std::u16string wide = utf8ToUtf16(text);
  GUID g{};
  if (FAILED(CLSIDFromString(wide.c_str(), &g))) return std::nullopt;
  return g;
}

std::optional<CATID> parseCategory(std::string_view text) {
  const std::string name = asciiLower(text);
  if (name == "da10") return CATID_OPCDAServer10;
  if (name == "da20") return CATID_OPCDAServer20;
  if (name == "da30") return CATID_OPCDAServer30;
  if (name == "ae10") return CATID_OPCAEServer10;
  return parseGuid(text);
}

std::optional<bool> parseFlag(std::string_view text) {
  const std::string v = asciiLower(text);
  if (v == "1" || v == "yes" || v == "true") return true;
  if (v == "0" || v == "no" || v == "false") return false;
  return std::nullopt;
}

// Keeps printed excerpts of hostile lines short and on one line.
std::string excerpt(std::string_view s) {
  constexpr std::size_t kMax = 60;
  std::string out;
  for (char c : s.substr(0, kMax)) out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
  if (s.size() > kMax) out += "...";
  return out;
}

/// The section being read and whether a fault has ruled it out.
struct Section {
  RegisteredClass cls;
  bool bad = false;
  std::vector<std::string> keys;  // seen, lower case
};

/// Keeps the first few warnings of one file and counts the rest, so that a
/// file of nothing but faults cannot flood the warning handler.
class FileWarnings {
 public:
  FileWarnings(std::vector<std::string>& out, std::string file)
      : out_(out), file_(std::move(file)) {}
  ~FileWarnings() {
    if (dropped_ == 0) return;
    out_.push_back(file_ + ": " + std::to_string(dropped_) + " more warning" +
                   (dropped_ == 1 ? "" : "s") + " not shown");
  }
  FileWarnings(const FileWarnings&) = delete;
  FileWarnings& operator=(const FileWarnings&) = delete;

  void push_back(std::string warning) {
    if (shown_ < kMaxWarningsPerRegistrationFile) {
      out_.push_back(std::move(warning));
      ++shown_;
    } else {
      ++dropped_;
    }
  }

 private:
  std::vector<std::string>& out_;
  std::string file_;
  std::size_t shown_ = 0;
  std::size_t dropped_ = 0;
};

/// The rules a section's keys must meet together: a class is reached either
/// through a module or through an endpoint, and security settings need an
/// endpoint. A network server is a DA server unless the section says
/// otherwise.
void checkEndpoint(Section& section, FileWarnings& warnings) {
  RegisteredClass& c = section.cls;
  const bool security = !c.endpoint.securityPolicy.empty() || !c.endpoint.securityMode.empty() ||
                        !c.endpoint.user.empty() || !c.endpoint.passwordFile.empty();
  if (!c.module.empty() && !c.endpoint.url.empty()) {
    warnings.push_back(c.source + ": a class has either a Module or an Endpoint, not both");
    section.bad = true;
  } else if (c.endpoint.url.empty() && security) {
    warnings.push_back(c.source + ": security settings without an Endpoint");
    section.bad = true;
  } else if (!c.endpoint.url.empty()) {
    const bool saysMarker =
        std::find(section.keys.begin(), section.keys.end(), "opc") != section.keys.end();
    if (c.categories.empty()) c.categories = {CATID_OPCDAServer10, CATID_OPCDAServer20};
    if (!saysMarker) c.opcMarker = true;
  }
}

/// One significant line of a registration file: a section header, a
/// key = value pair, or neither.
struct Line {
  enum class Kind { Section, KeyValue, Malformed };
  Kind kind = Kind::Malformed;
  std::size_t number = 0;
  std::string_view text;   ///< trimmed
  std::string key;         ///< KeyValue: lower case
  std::string_view value;  ///< KeyValue: trimmed
};

/// Splits a file's text into its significant lines, leaving out blank lines
/// and comments.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : rest_(text) {}

  std::optional<Line> next() {
    while (!rest_.empty()) {
      ++lineNo_;
      const auto nl = rest_.find('\n');
      const std::string_view text =
          trim(nl == std::string_view::npos ? rest_ : rest_.substr(0, nl));
      rest_ = nl == std::string_view::npos ? std::string_view() : rest_.substr(nl + 1);
      if (text.empty() || text.front() == '#' || text.front() == ';') continue;
      Line line;
      line.number = lineNo_;
      line.text = text;
      if (text.front() == '[') {
        line.kind = Line::Kind::Section;
      } else if (const auto eq = text.find('='); eq != std::string_view::npos) {
        line.kind = Line::Kind::KeyValue;
        line.key = asciiLower(trim(text.substr(0, eq)));
        line.value = trim(text.substr(eq + 1));
      }
      return line;
    }
    return std::nullopt;
  }

 private:
  std::string_view rest_;
  std::size_t lineNo_ = 0;
};

/// What applying one key to the class of its section came to.
struct KeyOutcome {
  enum class Kind { Applied, Unknown, Fault };
  Kind kind = Kind::Applied;
  std::string why;  ///< Fault: what is wrong with the value
};

KeyOutcome faultOf(std::string why) { return {KeyOutcome::Kind::Fault, std::move(why)}; }

/// Applies one non-empty key = value to the class of its section; every key
/// the format knows is read here. `file` anchors relative module and
/// password file paths.
KeyOutcome applyKey(RegisteredClass& c, const std::string& key, std::string_view value,
                    const std::filesystem::path& file) {
  if (key == "progid") {
    c.progId = utf8ToUtf16(value);
  } else if (key == "usertype") {
    c.userType = utf8ToUtf16(value);
  } else if (key == "categories") {
    std::string_view rest = value;
    while (true) {
      const auto comma = rest.find(',');
      const std::string_view item = trim(rest.substr(0, comma));
      const std::optional<CATID> cat = parseCategory(item);
      if (!cat) {
        return faultOf("category '" + excerpt(item) + "' is neither a category id nor " +
                       "DA10, DA20, DA30 or AE10");
      }
      if (std::find(c.categories.begin(), c.categories.end(), *cat) == c.categories.end()) {
        c.categories.push_back(*cat);
      }
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
  } else if (key == "opc") {
    const std::optional<bool> flag = parseFlag(value);
    if (!flag) return faultOf("OPC = '" + excerpt(value) + "' is not 1, 0, yes, no, true or false");
    c.opcMarker = *flag;
  } else if (key == "module") {
    std::filesystem::path module(value);
    if (module.is_relative()) module = file.parent_path() / module;
    c.module = module.lexically_normal();
  } else if (key == "endpoint") {
    if (endpointScheme(value).empty()) {
      return faultOf("Endpoint '" + excerpt(value) + "' is not a URL (scheme://...)");
    }
    c.endpoint.url = std::string(value);
  } else if (key == "securitypolicy") {
    c.endpoint.securityPolicy = std::string(value);
  } else if (key == "securitymode") {
    c.endpoint.securityMode = std::string(value);
  } else if (key == "user") {
    c.endpoint.user = std::string(value);
  } else if (key == "passwordfile") {
    std::filesystem::path pw(value);
    if (pw.is_relative()) pw = file.parent_path() / pw;
    c.endpoint.passwordFile = pw.lexically_normal();
  } else {
    return {KeyOutcome::Kind::Unknown, {}};
  }
  return {};
}

}  // namespace

std::vector<RegisteredClass> parseRegistrationFile(std::string_view text,
                                                   const std::filesystem::path& file,
                                                   std::vector<std::string>& allWarnings) {
  std::vector<RegisteredClass> out;
  const std::string name = file.string();
  FileWarnings warnings(allWarnings, name);
  const auto at = [&](std::size_t line) { return name + ":" + std::to_string(line); };

  if (text.find('\0') != std::string_view::npos) {
    warnings.push_back(name + ": not a text file; file skipped");
    return out;
  }
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  std::optional<Section> section;
  const auto finish = [&] {
    if (!section) return;
    if (!section->bad) checkEndpoint(*section, warnings);
    if (section->bad) {
      warnings.push_back(section->cls.source + ": entry skipped");
    } else {
      const auto same = std::find_if(out.begin(), out.end(), [&](const RegisteredClass& c) {
        return c.clsid == section->cls.clsid;
      });
      if (same != out.end()) {
        warnings.push_back(section->cls.source + ": class given again in the same file (first at " +
                           same->source + "); the later entry counts");
        *same = std::move(section->cls);
      } else {
        out.push_back(std::move(section->cls));
      }
    }
    section.reset();
  };
  const auto fault = [&](std::size_t line, const std::string& why) {
    if (section) {
      warnings.push_back(at(line) + ": " + why);
      section->bad = true;
    } else {
      warnings.push_back(at(line) + ": " + why + "; line ignored");
    }
  };

  Lexer lexer(text);
  while (const std::optional<Line> line = lexer.next()) {
    switch (line->kind) {
      case Line::Kind::Section: {
        finish();
        section.emplace();
        section->cls.source = at(line->number);
        const std::string_view header = line->text;
        const std::optional<GUID> clsid = header.back() == ']'
                                              ? parseGuid(trim(header.substr(1, header.size() - 2)))
                                              : std::nullopt;
        if (!clsid) {
          fault(line->number,
                "section header '" + excerpt(header) + "' is not a class id in braces");
        } else {
          section->cls.clsid = *clsid;
        }
        break;
      }
      case Line::Kind::Malformed:
        fault(line->number,
              "line '" + excerpt(line->text) + "' is neither a section nor key = value");
        break;
      case Line::Kind::KeyValue: {
        if (!section) {
          warnings.push_back(at(line->number) + ": key '" + excerpt(line->key) +
                             "' outside a class section; line ignored");
          break;
        }
        auto& keys = section->keys;
        if (std::find(keys.begin(), keys.end(), line->key) != keys.end()) {
          fault(line->number, "key '" + excerpt(line->key) + "' given twice");
          break;
        }
        keys.push_back(line->key);
        if (line->value.empty()) break;  // the same as leaving the key out
        const KeyOutcome outcome = applyKey(section->cls, line->key, line->value, file);
        if (outcome.kind == KeyOutcome::Kind::Fault) {
          fault(line->number, outcome.why);
        } else if (outcome.kind == KeyOutcome::Kind::Unknown) {
          warnings.push_back(at(line->number) + ": unknown key '" + excerpt(line->key) +
                             "' ignored");
        }
        break;
      }
    }
  }
  finish();
  return out;
}

// ---- Reading the folders ----------------------------------------------------------

namespace {

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return out;  // no such folder: nothing registered there
  for (const auto& entry : it) {
    const auto& p = entry.path();
    const std::string fileName = p.filename().string();
    if (fileName.empty() || fileName.front() == '.' || p.extension() != ".conf") continue;
    std::error_code typeError;
    if (!std::filesystem::is_regular_file(p, typeError)) continue;  // follows links
    out.push_back(p);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<std::string> readFile(const std::filesystem::path& file,
                                    std::vector<std::string>& warnings) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) {
    warnings.push_back(file.string() + ": cannot be read (" + ec.message() + "); file skipped");
    return std::nullopt;
  }
  if (size > kMaxRegistrationFileSize) {
    warnings.push_back(file.string() + ": larger than " + std::to_string(kMaxRegistrationFileSize) +
                       " bytes; file skipped");
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::string text;
  text.resize(size);
  if (!in || !in.read(text.data(), std::streamsize(size))) {
    warnings.push_back(file.string() + ": cannot be read; file skipped");
    return std::nullopt;
  }
  return text;
}

}  // namespace

std::vector<RegisteredClass> readRegistrationFiles(std::vector<std::string>& warnings) {
  std::vector<RegisteredClass> out;
  for (const auto& folder : registrationFolders()) {
    for (const auto& file : filesIn(folder)) {
      const std::optional<std::string> text = readFile(file, warnings);
      if (!text) continue;
      for (auto& c : parseRegistrationFile(*text, file, warnings)) {
        const auto same = std::find_if(
            out.begin(), out.end(), [&](const RegisteredClass& o) { return o.clsid == c.clsid; });
        if (same != out.end()) {
          *same = std::move(c);  // a later folder overrides an earlier one
        } else {
          out.push_back(std::move(c));
        }
      }
    }
  }
  return out;
}

}  // namespace opc
