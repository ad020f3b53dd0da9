// Registration files: text files in the per-system and per-user
// configuration folders that name classes served by in-process server
// modules (shared libraries, see inprocmodule.h). The class registry reads
// them on its first lookup; their entries stand beside the classes that code
// registers.
//
// Folders, read in this order (a later entry for a class replaces an earlier
// one, so the user's files override the system's):
//   each folder of $XDG_CONFIG_DIRS (default /etc/xdg), last to first,
//   then $XDG_CONFIG_HOME (default $HOME/.config),
// each with "veze6/servers.d" appended; in each, the files named "*.conf"
// (hidden files left out) in byte order of their names.
//
// Format (UTF-8; blank lines and lines starting with '#' or ';' ignored):
//
//   [{6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE}]
//   ProgID = Vendor.Server.1
//   UserType = Vendor OPC DA Server
//   Categories = DA10, DA20
//   OPC = 1
//   Module = libvendorserver.so
//
// A section per class, headed by its class id in braces. Keys are
// case-insensitive, values trimmed; an empty value is the same as leaving
// the key out. Categories: braced category ids or the names DA10, DA20, DA30
// and AE10, separated by commas. OPC: 1/0, yes/no, true/false (the "OPC"
// marker of the registry listing). Module: the shared library; a relative
// path is taken from the file's own folder. Without a module the class is
// listed but cannot be created.
//
// A server reached over the network names its endpoint instead of a module:
//
//   [{0F6A2C1E-7B1D-4E55-9C0B-3A52D1E8B7A4}]
//   ProgID = Plant.UA.1
//   UserType = Plant OPC UA Server
//   Endpoint = opc.tcp://plant-host:4840/path
//   SecurityPolicy = Basic256Sha256
//   SecurityMode = SignAndEncrypt
//   User = operator
//   PasswordFile = operator.pw
//
// The class is created by the factory registered for the endpoint's URL
// scheme (endpointclasses.h); without one it is listed but cannot be created.
// SecurityPolicy, SecurityMode, User and PasswordFile (the password is its
// first line; a relative path is taken from the file's folder) are handed to
// the factory as given. A section with both Module and Endpoint, or with
// security keys but no Endpoint, is a fault. Categories default to DA10 and
// DA20 and the OPC marker to 1 for endpoint classes.
//
// A section with a fault (a malformed class id, a line without '=', a key
// given twice, a bad category or marker value) is skipped, and so is a file
// that cannot be read, holds NUL bytes or exceeds kMaxRegistrationFileSize;
// each skip is reported through the warning handler and the rest is still
// read. Unknown keys are reported and ignored.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "endpointclasses.h"
#include "objidl.h"
#include "opcexport.h"
#include "warnings.h"

namespace opc {

inline constexpr std::size_t kMaxRegistrationFileSize = 1024 * 1024;
/// Warnings reported for one file; the rest are only counted.
inline constexpr std::size_t kMaxWarningsPerRegistrationFile = 10;

/// One class named by a registration file.
struct RegisteredClass {
  CLSID clsid{};
  std::u16string progId;
  std::u16string userType;
  std::vector<CATID> categories;
  bool opcMarker = false;
  std::filesystem::path module;  ///< absolute; empty when the file names none
  EndpointSettings endpoint;     ///< url empty when the file names none
  std::string source;            ///< "file:line" of the section header
};

/// The folders searched, in reading order (see above). Folders given as
/// relative paths in the environment are left out.
VEZE6_OPC_EXPORT std::vector<std::filesystem::path> registrationFolders();

/// Parses the text of one registration file. `file` names it in warnings and
/// anchors relative module paths. Skipped sections leave a warning each, up
/// to kMaxWarningsPerRegistrationFile; one more then gives the count left out.
VEZE6_OPC_EXPORT std::vector<RegisteredClass> parseRegistrationFile(
    std::string_view text, const std::filesystem::path& file, std::vector<std::string>& warnings);

/// Reads every registration file of the folders; for a class named more than
/// once the last entry read counts, at the place of the first.
VEZE6_OPC_EXPORT std::vector<RegisteredClass> readRegistrationFiles(
    std::vector<std::string>& warnings);

}  // namespace opc
