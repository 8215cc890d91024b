#pragma once
// One run of the harbor executable (HARBOR_EXECUTABLE) on the headless page engine, its standard
// error read through a pipe as it comes, so that a test acts on what the runner has said rather
// than on guesses about timing. For the process-level tests of the runner.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace harbor::runner {

class RunnerProcess {
 public:
  // environment: "NAME=value" entries that replace or join the test's own.
  explicit RunnerProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> variables = environment;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const std::string& own : environment) replaced = replaced || own.rfind(name, 0) == 0;
      if (!replaced) variables.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // Without a display: these runs are about the runner, not the page engine.
    std::vector<std::string> args = {HARBOR_EXECUTABLE, "--web-backend", "headless"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, HARBOR_EXECUTABLE, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    fd_ = fds[0];
  }
  ~RunnerProcess() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& log() const { return log_; }
  void signal(int sig) { ::kill(pid_, sig); }

  // Reads until the log holds text or the process ends; false then, or after the bound.
  bool waitForLine(const std::string& text, double seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (log_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !readSome(50)) return false;
    }
    return true;
  }

  // The exit status (128 + the signal for a killed process), or -1 when it did not end within
  // the bound (it is killed then).
  int wait(double seconds = 30) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (readSome(50)) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }

 private:
  // False once the pipe is closed (the process and all it started have ended).
  bool readSome(int milliseconds) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, milliseconds) <= 0) return true;
    char buffer[4096];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && errno == EINTR;
    log_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  int status_ = -1;
  std::string log_;
};

}  // namespace harbor::runner
