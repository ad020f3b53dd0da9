// Test helper: points the registration folders at a fresh temporary tree
// (XDG_CONFIG_HOME and XDG_CONFIG_DIRS), captures the platform layer's
// warnings, and puts everything back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "opc/classregistry.h"
#include "opc/registrationfiles.h"

namespace opc::test {

class ConfigFolders {
 public:
  ConfigFolders() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veze6-reg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    saveAndSet("XDG_CONFIG_HOME", (root_ / "home").string());
    saveAndSet("XDG_CONFIG_DIRS", (root_ / "sys1").string() + ":" + (root_ / "sys2").string());
    previous_ = setWarningHandler([this](const std::string& m) { warnings.push_back(m); });
  }
  ConfigFolders(const ConfigFolders&) = delete;
  ConfigFolders& operator=(const ConfigFolders&) = delete;
  ~ConfigFolders() {
    setWarningHandler(std::move(previous_));
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    ClassRegistry::instance().reloadRegistrationFiles();
  }

  /// The servers.d folder of "home", "sys1" (the more important system
  /// folder) or "sys2".
  std::filesystem::path folder(const std::string& which) const {
    return root_ / which / "veze6" / "servers.d";
  }
  const std::filesystem::path& root() const { return root_; }

  /// Writes a file into a servers.d folder (created as needed).
  std::filesystem::path write(const std::string& which, const std::string& name,
                              const std::string& text) {
    const auto dir = folder(which);
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  /// Reloads the registry and returns the warnings of that reading.
  std::vector<std::string> reload() {
    warnings.clear();
    ClassRegistry::instance().reloadRegistrationFiles();
    return warnings;
  }

  /// Whether any captured warning contains all the parts.
  bool warned(const std::vector<std::string>& parts) const {
    for (const auto& w : warnings) {
      bool all = true;
      for (const auto& p : parts) all = all && w.find(p) != std::string::npos;
      if (all) return true;
    }
    return false;
  }

  std::vector<std::string> warnings;

 private:
  void saveAndSet(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }

  std::filesystem::path root_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  WarningHandler previous_;
};

}  // namespace opc::test
