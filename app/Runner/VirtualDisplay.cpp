#include "VirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "plat/foundation/Strings.h"

namespace harbor::runner {
namespace {

// The server's path: as given when it names a folder, else the first executable of that name
// in PATH. Looked up before fork, since the child may only make async-signal-safe calls.
std::string findExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  std::stringstream folders(path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

void put16(std::string& out, std::size_t value) {
  out += static_cast<char>((value >> 8) & 0xff);
  out += static_cast<char>(value & 0xff);
}

void putCounted(std::string& out, const std::string& bytes) {
  put16(out, bytes.size());
  out += bytes;
}

// One X authority entry for any address and any display number (FamilyWild, empty address and
// number), so it can be written before the server has chosen its number.
std::string wildcardAuthority(const std::string& cookie) {
  std::string entry;
  put16(entry, 0xffff);
  putCounted(entry, "");
  putCounted(entry, "");
  putCounted(entry, "MIT-MAGIC-COOKIE-1");
  putCounted(entry, cookie);
  return entry;
}

// The last lines the server wrote, for a failure message.
std::string lastWords(const std::string& logFile) {
  std::ifstream in(logFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  if (lines.empty()) return {};
  std::string words;
  for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i)
    words += (words.empty() ? "" : " / ") + lines[i];
  return words;
}

}  // namespace

bool hasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

void privateScreenSize(double width, double height, int& outWidth, int& outHeight) {
  auto side = [](double points, int least) {
    if (!(points >= least)) return least;  // NaN included
    return static_cast<int>(std::min(points, 8192.0) + 0.5);
  };
  outWidth = side(width, 320);
  outHeight = side(height, 240);
}

plat::Result<std::string> VirtualDisplay::start(int width, int height, const std::string& server,
                                                double timeoutSeconds) {
  stop();
  std::string executable = findExecutable(server);
  if (executable.empty()) return plat::Failure{"no " + server + " to start a virtual display with (scripts/install-deps.sh installs it)"};

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/harbor-display-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return plat::Failure{"cannot make a folder for the virtual display in " + pattern + ": " + std::strerror(errno)};
  folder_ = buffer.data();

  auto fail = [this](std::string why) -> plat::Result<std::string> {
    stop();
    return plat::Failure{std::move(why)};
  };

  // The cookie: 16 random bytes, in a file only we can read.
  std::string cookie(16, '\0');
  if (getrandom(cookie.data(), cookie.size(), 0) != static_cast<ssize_t>(cookie.size()))
    return fail(std::string("no random bytes for the display's cookie: ") + std::strerror(errno));
  std::string authority = folder_ + "/Xauthority";
  {
    int fd = open(authority.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot write " + authority + ": " + std::strerror(errno));
    std::string entry = wildcardAuthority(cookie);
    bool whole = write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
    close(fd);
    if (!whole) return fail("cannot write " + authority);
  }
  std::string logFile = folder_ + "/server.log";

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return fail(std::string("no pipe: ") + std::strerror(errno));
  // Everything the child needs, made before fork.
  std::string screen = plat::format("%dx%dx24", width, height);
  std::string readyFd = std::to_string(3);
  std::vector<std::string> args = {executable, "-displayfd", readyFd, "-auth", authority, "-nolisten", "tcp",
                                   "-noreset", "-screen", "0", screen};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid < 0) {
    close(ready[0]);
    close(ready[1]);
    return fail(std::string("cannot start ") + server + ": " + std::strerror(errno));
  }
  if (pid == 0) {
    // The child: async-signal-safe calls only, until exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    if (ready[1] == 3) {
      fcntl(3, F_SETFD, 0);
    } else {
      dup2(ready[1], 3);  // the copy is not closed on exec
    }
    execv(executable.c_str(), argv.data());
    _exit(127);
  }
  close(ready[1]);
  pid_ = pid;

  // The server writes its display number once it accepts connections, or exits.
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  bool ended = false;
  while (number.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{ready[0], POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char chunk[32];
    ssize_t got = read(ready[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended = true;
      break;
    }
    number.append(chunk, static_cast<std::size_t>(got));
  }
  close(ready[0]);
  number = number.substr(0, number.find('\n'));
  bool valid = !number.empty() && number.size() < 6 &&
               std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!valid) {
    std::string words = lastWords(logFile);
    std::string why = ended ? server + " ended before it was ready" : plat::format("%s was not ready within %g s", server.c_str(), timeoutSeconds);
    return fail(why + (words.empty() ? std::string() : " (" + words + ")"));
  }
  name_ = ":" + number;
  setenv("DISPLAY", name_.c_str(), 1);
  setenv("XAUTHORITY", authority.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  return name_;
}

void VirtualDisplay::stop() {
  std::lock_guard<std::mutex> lock(stopping_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {  // up to 5 s
      pid_t r = waitpid(pid_, &status, WNOHANG);
      gone = r == pid_ || (r < 0 && errno == ECHILD);
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gone) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
  }
  // The environment no longer points at a display that is gone.
  const char* display = std::getenv("DISPLAY");
  if (!name_.empty() && display && name_ == display) {
    unsetenv("DISPLAY");
    unsetenv("XAUTHORITY");
  }
  name_.clear();
}

}  // namespace harbor::runner
