// Keys and certificates made for a test run with the openssl command, in a
// temporary folder removed at the end: an authority with a host and a client
// certificate, and a second, untrusted authority with a client of its own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace veze6::test {

class TestCerts {
 public:
  /// hostNames: the host certificate's subjectAltName entries, e.g.
  /// "IP:127.0.0.1,DNS:localhost".
  explicit TestCerts(const std::string& hostNames = "IP:127.0.0.1,DNS:localhost") {
    char pattern[] = "/tmp/veze6-certs-XXXXXX";
    if (!::mkdtemp(pattern)) return;
    dir_ = pattern;
    ok_ = authority("ca") && authority("rogue-ca") &&
          leaf("host", "ca", "subjectAltName=" + hostNames) &&
          leaf("client", "ca", "basicConstraints=CA:FALSE") &&
          leaf("rogue", "rogue-ca", "basicConstraints=CA:FALSE");
  }
  ~TestCerts() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  TestCerts(const TestCerts&) = delete;
  TestCerts& operator=(const TestCerts&) = delete;

  bool ok() const { return ok_; }
  /// name.crt or name.key of this run: ca, rogue-ca, host, client, rogue.
  std::string crt(const std::string& name) const { return dir_ + "/" + name + ".crt"; }
  std::string key(const std::string& name) const { return dir_ + "/" + name + ".key"; }
  const std::string& dir() const { return dir_; }

  /// The certificate's SHA-256 fingerprint as openssl prints it (AB:CD:...).
  std::string fingerprint(const std::string& name) const {
    const std::string text = output("openssl x509 -noout -fingerprint -sha256 -in " + crt(name));
    const auto eq = text.find('=');
    return eq == std::string::npos ? "" : text.substr(eq + 1, text.find_last_not_of("\n") - eq);
  }

 private:
  static std::string output(const std::string& command) {
    std::string text;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buf[256];
      while (std::fgets(buf, sizeof buf, p)) text += buf;
      ::pclose(p);
    }
    return text;
  }
  bool run(const std::string& command) const {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static constexpr const char* kKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  bool authority(const std::string& name) const {
    return run("openssl req -x509" + std::string(kKey) + " -keyout " + key(name) + " -out " +
               crt(name) + " -subj /CN=" + name + " -days 2");
  }
  bool leaf(const std::string& name, const std::string& issuer, const std::string& ext) const {
    const std::string extFile = dir_ + "/" + name + ".ext";
    if (FILE* f = std::fopen(extFile.c_str(), "w")) {
      std::fputs((ext + "\n").c_str(), f);
      std::fclose(f);
    }
    return run("openssl req" + std::string(kKey) + " -keyout " + key(name) + " -out " + dir_ + "/" +
               name + ".csr -subj /CN=" + name) &&
           run("openssl x509 -req -in " + dir_ + "/" + name + ".csr -CA " + crt(issuer) +
               " -CAkey " + key(issuer) + " -CAcreateserial -days 2 -out " + crt(name) +
               " -extfile " + extFile);
  }

  std::string dir_;
  bool ok_ = false;
};

/// This process's client TLS files for a scope; the user's own folder is
/// never read.
class ClientFiles {
 public:
  ClientFiles(const std::string& authority, const std::string& certificate = {},
              const std::string& key = {}) {
    ::setenv("VEZE6_REMOTE_DIR", "/nonexistent", 1);
    set("VEZE6_REMOTE_CA", authority);
    set("VEZE6_REMOTE_CERT", certificate);
    set("VEZE6_REMOTE_KEY", key);
  }
  ~ClientFiles() {
    for (const char* name :
         {"VEZE6_REMOTE_DIR", "VEZE6_REMOTE_CA", "VEZE6_REMOTE_CERT", "VEZE6_REMOTE_KEY"}) {
      ::unsetenv(name);
    }
  }

 private:
  static void set(const char* name, const std::string& value) {
    if (value.empty()) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value.c_str(), 1);
    }
  }
};

}  // namespace veze6::test
