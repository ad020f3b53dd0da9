// Runs tests/ua/server/testserver.js as a child process for one test or suite:
// picks a free loopback port, waits for the ready line, stops the server when
// it goes out of scope. See README.md beside this file for the address space.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace veze6test {

class TestServerProcess {
 public:
  struct Options {
    /// The node executable; looked up on PATH when it has no slash.
    std::string node = defaultNode();
    /// Path of testserver.js.
    std::string script = defaultScript();
    /// Extra arguments, e.g. {"--bank", "10000"} or {"--users", file}.
    std::vector<std::string> arguments;
    /// Loading the stack's standard address space takes a few seconds, much
    /// longer on a busy machine.
    std::chrono::milliseconds readyTimeout{90000};
    /// How long the server may take to stop after SIGTERM before SIGKILL. It
    /// exits at once, but on a busy machine the kernel can take seconds to
    /// release its memory.
    std::chrono::milliseconds stopTimeout{20000};
  };

  explicit TestServerProcess(Options options) : options_(std::move(options)) {
    // Another process may take the free port between our probe and the
    // server's bind; the server then exits with its "port in use" status.
    for (int attempt = 0; attempt < 3 && url_.empty(); ++attempt) {
      if (!start() && exitStatus_ != kPortInUse) break;
    }
    if (url_.empty()) {
      std::cerr << "test server: " << error_ << "\n" << serverErrors() << std::flush;
    }
  }

  ~TestServerProcess() {
    stop();
    if (stderrFd_ >= 0) ::close(stderrFd_);
    if (!pkiDir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(pkiDir_, ignored);
    }
  }

  TestServerProcess(const TestServerProcess&) = delete;
  TestServerProcess& operator=(const TestServerProcess&) = delete;

  /// True once the server printed its ready line, until stop().
  bool running() const { return pid_ > 0 && !url_.empty(); }
  /// The endpoint URL from the ready line; empty when the server did not start.
  const std::string& url() const { return url_; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  /// Why the server did not start; empty when it did.
  const std::string& error() const { return error_; }

  /// Everything the server wrote to stderr so far.
  std::string serverErrors() const {
    std::string text;
    if (stderrFd_ < 0) return text;
    char buffer[4096];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(stderrFd_, buffer, sizeof buffer, at);
      if (n <= 0) break;
      text.append(buffer, std::size_t(n));
      at += n;
    }
    return text;
  }

  /// Stops the server: closes its stdin, SIGTERM, SIGKILL after stopTimeout.
  /// Returns the exit status (128 + signal when killed), -1 when not running.
  int stop() {
    closeFd(stdinFd_);
    if (pid_ <= 0) return exitStatus_;
    ::kill(pid_, SIGTERM);
    if (!waitForExit(options_.stopTimeout)) {
      ::kill(pid_, SIGKILL);
      reap(0);
    }
    const bool failed = exitStatus_ != 0 && !url_.empty();
    pid_ = -1;
    if (failed)
      std::cerr << "test server exited with " << exitStatus_ << "\n"
                << serverErrors() << std::flush;
    return exitStatus_;
  }

  /// A port on 127.0.0.1 that nothing listened on a moment ago.
  static int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    ::close(fd);
    return port;
  }

  /// $VEZE6_NODE, else the node CMake found, else node on PATH.
  static std::string defaultNode() {
    const char* node = std::getenv("VEZE6_NODE");
    if (node && *node) return node;
#ifdef VEZE6_NODE_EXECUTABLE
    return VEZE6_NODE_EXECUTABLE;
#else
    return "node";
#endif
  }

  /// $VEZE6_UA_TESTSERVER, else the script CMake points at.
  static std::string defaultScript() {
    const char* script = std::getenv("VEZE6_UA_TESTSERVER");
    if (script && *script) return script;
#ifdef VEZE6_UA_TESTSERVER_SCRIPT
    return VEZE6_UA_TESTSERVER_SCRIPT;
#else
    return "testserver.js";
#endif
  }

 private:
  static constexpr int kPortInUse = 3;  // testserver.js's exit status for a busy port

  static void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  bool start() {
    error_.clear();
    exitStatus_ = -1;
    port_ = freeLoopbackPort();
    if (port_ == 0) return fail("no free loopback port");
    if (pkiDir_.empty() && !makePkiDir()) return fail("cannot create a temporary folder");
    closeFd(stderrFd_);
    stderrFd_ = openStderrFile();
    if (stderrFd_ < 0) return fail("cannot create a file for the server's stderr");

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return fail(std::string("pipe: ") + std::strerror(errno));
    }

    std::vector<std::string> args = {options_.node,         options_.script, "--port",
                                     std::to_string(port_), "--pki",         pkiDir_.string()};
    args.insert(args.end(), options_.arguments.begin(), options_.arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The server treats the end of its stdin as our death, so it is a pipe only we hold.
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // A file, not a pipe: nobody reads stderr while the tests run, and a full
    // pipe would block the server.
    posix_spawn_file_actions_adddup2(&actions, stderrFd_, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
      ::close(in[1]);
      ::close(out[0]);
      return fail("cannot start " + options_.node + ": " + std::strerror(rc));
    }
    pid_ = pid;
    stdinFd_ = in[1];
    const bool ready = waitForReady(out[0]);
    ::close(out[0]);
    if (!ready) stop();
    return ready;
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  bool makePkiDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/veze6-ua-pki-XXXXXX";
    if (!::mkdtemp(pattern.data())) return false;
    pkiDir_ = pattern;
    return true;
  }

  static int openStderrFile() {
    const char* tmp = std::getenv("TMPDIR");
    const int fd = ::open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/veze6-ua-stderr-XXXXXX";
    const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(pattern.c_str());
    return named;
  }

  bool waitForReady(int fd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + options_.readyTimeout;
    std::string text;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0)
        return fail("no ready line within " + std::to_string(options_.readyTimeout.count()) +
                    " ms");
      pollfd p{fd, POLLIN, 0};
      const int n = ::poll(&p, 1, int(left.count()));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(std::string("poll: ") + std::strerror(errno));
      if (n == 0) continue;
      char buffer[512];
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        // The write end closes only when the server exits.
        reap(0);
        return fail("the server exited with " + std::to_string(exitStatus_) +
                    " before it was ready");
      }
      text.append(buffer, std::size_t(got));
      for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
        const std::string line = text.substr(0, end);
        if (line.rfind("ready ", 0) == 0) {
          url_ = line.substr(6);
          return true;
        }
      }
    }
  }

  // Reaps the child; options 0 blocks, WNOHANG does not. True once reaped.
  bool reap(int options) {
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid_, &status, options);
    while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r == pid_) exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return true;
  }

  bool waitForExit(std::chrono::milliseconds timeout) {
    // A pidfd becomes readable when the process exits: a bounded wait without polling.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      int n;
      do n = ::poll(&p, 1, int(timeout.count()));
      while (n < 0 && errno == EINTR);
      ::close(pidfd);
      return reap(n > 0 ? 0 : WNOHANG);
    }
    // Kernels without pidfds: check in short steps.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(WNOHANG)) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  Options options_;
  pid_t pid_ = -1;
  int port_ = 0;
  int stdinFd_ = -1;
  int stderrFd_ = -1;
  int exitStatus_ = -1;
  std::filesystem::path pkiDir_;
  std::string url_;
  std::string error_;
};

}  // namespace veze6test
