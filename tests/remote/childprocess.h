// A program run by a test, its standard output and error read as they come.
// Started with posix_spawn rather than fork: a forked copy of a
// multi-threaded test (the RPC thread runs) is not safe to run code in, and
// the thread sanitizer refuses it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace veze6::test {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    fd_ = pipe[0];
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    stop(SIGTERM);
    if (fd_ >= 0) ::close(fd_);
  }

  bool started() const { return pid_ > 0; }

  /// Everything written so far.
  const std::string& output() {
    char buffer[4096];
    for (ssize_t n; fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0;)
      out_.append(buffer, n);
    return out_;
  }

  /// Sends a signal and goes on (SIGSTOP, SIGCONT).
  void signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }

  /// Sends the signal and waits for the end; a stopped program is let go
  /// on to take it.
  void stop(int signal = SIGKILL) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::kill(pid_, SIGCONT);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string out_;
};

}  // namespace veze6::test
