// The runner's private virtual display: a real Xvfb server, started and stopped as the runner
// does, checked by speaking the X protocol's first words to it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "VirtualDisplay.h"
#include "plat/testing/SandboxTest.h"

namespace harbor::runner {
namespace {

// The X connection set-up: a little-endian request offering an authorisation, answered with
// 1 (accepted), 0 (refused) or 2 (more needed). Returns the answer, or -1 when nobody listens.
int xConnectionAnswer(const std::string& display, const std::string& authName, const std::string& authData) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = "/tmp/.X11-unix/X" + display.substr(1);
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  auto pad = [](std::string s) {
    s.resize((s.size() + 3) / 4 * 4, '\0');
    return s;
  };
  std::string request = {'l', 0, 11, 0, 0, 0};
  request += static_cast<char>(authName.size());
  request += '\0';
  request += static_cast<char>(authData.size());
  request += '\0';
  request += std::string(2, '\0');
  request += pad(authName) + pad(authData);
  char answer = -1;
  bool sent = write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  int result = sent && read(fd, &answer, 1) == 1 ? answer : -1;
  close(fd);
  return result;
}

std::string fileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Keeps the environment variables the display changes, and puts them back.
class VirtualDisplayTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "TMPDIR"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    tmp_ = inHome("tmp");
    setenv("TMPDIR", tmp_.c_str(), 1);
    setenv("WAYLAND_DISPLAY", "wayland-harbor-test", 1);
    unsetenv("DISPLAY");
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
    SandboxTest::TearDown();
  }
  // What the runner's private folders left in TMPDIR.
  std::size_t leftovers() {
    std::size_t n = 0;
    for (auto& entry : std::filesystem::directory_iterator(tmp_))
      if (entry.path().filename().string().rfind("harbor-display-", 0) == 0) ++n;
    return n;
  }

  std::string tmp_;
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(VirtualDisplayTest, ServesOnlyItsOwnCookieAndLeavesNothingBehind) {
  VirtualDisplay first, second;
  auto name = first.start(375, 667);
  ASSERT_TRUE(name) << name.error();
  EXPECT_EQ(*name, first.name());
  ASSERT_EQ(name->rfind(":", 0), 0u);
  EXPECT_EQ(std::getenv("DISPLAY"), *name);
  EXPECT_EQ(std::getenv("WAYLAND_DISPLAY"), nullptr);
  std::string authority = std::getenv("XAUTHORITY");
  EXPECT_EQ(authority.rfind(tmp_ + "/harbor-display-", 0), 0u) << authority;
  EXPECT_EQ(std::filesystem::status(std::filesystem::path(authority).parent_path()).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  std::string entry = fileContents(authority);
  ASSERT_GE(entry.size(), 16u);
  std::string cookie = entry.substr(entry.size() - 16);
  struct Case {
    const char* what;
    std::string name, data;
    int answer;
  };
  for (const Case& c : std::vector<Case>{{"its cookie", "MIT-MAGIC-COOKIE-1", cookie, 1},
                                         {"no cookie", "", "", 0},
                                         {"another cookie", "MIT-MAGIC-COOKIE-1", std::string(16, 'x'), 0}})
    EXPECT_EQ(xConnectionAnswer(*name, c.name, c.data), c.answer) << c.what;

  // A second runner at the same time gets a display of its own.
  auto other = second.start(800, 600);
  ASSERT_TRUE(other) << other.error();
  EXPECT_NE(*other, *name);

  pid_t pid = first.pid();
  first.stop();
  EXPECT_FALSE(first.running());
  EXPECT_NE(kill(pid, 0), 0) << "the server still runs";
  // Its cookie opens nothing any more. (Another test's server may have taken the freed number
  // meanwhile: that one refuses the cookie rather than not answering.)
  EXPECT_NE(xConnectionAnswer(*name, "MIT-MAGIC-COOKIE-1", cookie), 1);
  EXPECT_FALSE(std::filesystem::exists(authority));
  first.stop();  // twice is harmless
  second.stop();
  EXPECT_EQ(leftovers(), 0u);
}

TEST_F(VirtualDisplayTest, AServerThatCannotStartIsNamedAndLeavesNothing) {
  std::string quitter = inHome("quitter");
  {
    std::ofstream script(quitter);
    script << "#!/bin/sh\necho 'Fatal server error: no screens found' >&2\nexit 1\n";
  }
  std::filesystem::permissions(quitter, std::filesystem::perms::owner_all);
  std::string silent = inHome("silent");
  {
    std::ofstream script(silent);
    script << "#!/bin/sh\nexec sleep 30\n";
  }
  std::filesystem::permissions(silent, std::filesystem::perms::owner_all);

  struct Case {
    std::string server;
    double timeout;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{
           {"harbor-no-such-server", 5, "no harbor-no-such-server to start a virtual display with"},
           {quitter, 20, quitter + " ended before it was ready (Fatal server error: no screens found)"},
           {silent, 0.5, silent + " was not ready within 0.5 s"}}) {
    VirtualDisplay display;
    auto started = display.start(375, 667, c.server, c.timeout);
    ASSERT_FALSE(started) << c.server;
    EXPECT_EQ(started.error().rfind(c.error, 0), 0u) << started.error();
    EXPECT_FALSE(display.running());
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
    EXPECT_STREQ(std::getenv("WAYLAND_DISPLAY"), "wayland-harbor-test");
    EXPECT_EQ(leftovers(), 0u) << c.server;
  }
}

TEST(VirtualDisplaySize, FollowsTheSimulatedScreenWithinBounds) {
  struct Case {
    double width, height;
    int w, h;
  };
  for (const Case& c : std::vector<Case>{{375, 667, 375, 667},
                                         {768, 1024, 768, 1024},
                                         {100, 50, 320, 240},
                                         {1e9, 0.0 / 0.0, 8192, 240},
                                         {320.4, 480.6, 320, 481}}) {
    int w = 0, h = 0;
    privateScreenSize(c.width, c.height, w, h);
    EXPECT_EQ(w, c.w) << c.width;
    EXPECT_EQ(h, c.h) << c.height;
  }
}

}  // namespace
}  // namespace harbor::runner
