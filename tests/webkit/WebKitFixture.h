#pragma once
// What the WebKit engine's in-process tests share: a virtual display of the test program's own
// (Xvfb, started once per process and ended with it), WebKit started on it, and a sandbox home
// with a bundle. Skipped, with the reason, where Xvfb is not installed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/uikit/UIWebView.h"
#include "plat/web/JSContext.h"
#include "plat/web/WebPage.h"
#include "plat/webkit/WKWebView.h"
#include "plat/webkit/WKWebViewConfiguration.h"
#include "plat/testing/SandboxTest.h"

extern char** environ;

namespace harbor::testing {

// A generous bound for anything WebKit does in another process on a loaded machine. Under the
// sanitizers every allocation records its whole stack (the leak suppressions need the frames),
// which makes the largest page values several times slower to read.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kPatience = 240;
#else
constexpr double kPatience = 60;
#endif

// The web content processes this process started that still run.
inline std::vector<pid_t> contentProcessesOfOurs() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(WebKitWebProces") == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid() && state != "Z") children.push_back(std::stoi(name));
  }
  return children;
}

// The virtual display of this process, started on first use and ended with the process.
class VirtualDisplay {
 public:
  static VirtualDisplay& shared() {
    static VirtualDisplay* display = new VirtualDisplay();
    return *display;
  }
  // Empty when the display runs; otherwise why not.
  const std::string& problem() const { return problem_; }

 private:
  VirtualDisplay() {
    std::string xvfb;
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
      if (::access((std::string(folder) + "Xvfb").c_str(), X_OK) == 0) xvfb = std::string(folder) + "Xvfb";
    if (xvfb.empty()) {
      problem_ = "Xvfb is not installed (the install script installs it)";
      return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      problem_ = "no pipe for Xvfb";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Xvfb writes the display number it took to this descriptor.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {xvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int spawned = ::posix_spawn(&pid_, xvfb.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
      ::close(fds[0]);
      problem_ = "Xvfb could not be started";
      return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&p, 1, static_cast<int>(kPatience * 1000)) > 0) {
      char buffer[32];
      ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (number.empty()) {
      problem_ = "Xvfb did not say which display it took";
      return;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    static pid_t pid = pid_;
    std::atexit([] {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    });
  }

  pid_t pid_ = -1;
  std::string problem_;
};

class WebKitEngineTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    const std::string& problem = VirtualDisplay::shared().problem();
    if (!problem.empty()) GTEST_SKIP() << problem;
    auto started = plat::web::startWebKit();
    ASSERT_TRUE(started) << started.error();
    plat::web::setBackend(plat::web::Backend::WebKit);
  }
  void TearDown() override {
    view_.reset();
    // Every view of the test is let go of with its page (the sanitizers' leak check does not see
    // it: what WebKit makes for a view is suppressed there).
    if (!IsSkipped()) {
      EXPECT_EQ(plat::web::webKitViewsAliveForTesting(), 0u) << "a web view outlived its page";
    }
    plat::web::setBackend(plat::web::Backend::Headless);
    plat::web::setSyncEvaluationSecondsForTesting(plat::web::WebPage::kSyncEvaluationSeconds);
    plat::JSContext::resetStopAllScripts();
    SandboxTest::TearDown();
  }

  // A UIWebView on a page of the bundle, loaded.
  void loadPage(const std::string& name, const std::string& html) {
    writeFile(inBundle(name), html);
    view_ = std::make_shared<plat::UIWebView>();
    view_->init();
    ASSERT_NE(dynamic_cast<plat::web::WebPage*>(view_->page()), nullptr);
    view_->loadRequest(plat::NSURLRequest::requestWithURL(plat::NSURL::fileURLWithPath(inBundle(name))));
    ASSERT_TRUE(plat::web::turnMainLoopUntil([&] { return title() == "ready"; }, kPatience)) << "the page did not load";
  }

  std::string title() { return view_->page()->title(); }

  std::shared_ptr<plat::UIWebView> view_;
};

inline const char* backendName(plat::web::Backend backend) {
  return backend == plat::web::Backend::WebKit ? "WebKit" : "headless";
}

// The messages a WKWebView page posts to its "harbor" handler, in order.
struct MessageRecorder : plat::WKScriptMessageHandler {
  void userContentControllerDidReceiveScriptMessage(plat::WKUserContentController&,
                                                    const std::shared_ptr<plat::WKScriptMessage>& message) override {
    bodies.push_back(message->body());
    unreadable.push_back(message->unreadable() ? *message->unreadable() + " " + plat::Value(message->unreadableHead()).description()
                                               : std::string());
  }
  std::vector<plat::Value> bodies;
  // Per message: why the host could not read it and what it read of it (its head); "" when read.
  std::vector<std::string> unreadable;
};

// A WKWebView on the current backend, loading html, whose messages go to recorder.
struct RecordedWKWebView {
  std::shared_ptr<MessageRecorder> recorder = std::make_shared<MessageRecorder>();
  std::shared_ptr<plat::WKWebView> view = std::make_shared<plat::WKWebView>();

  explicit RecordedWKWebView(const std::string& html) {
    auto configuration = std::make_shared<plat::WKWebViewConfiguration>();
    EXPECT_TRUE(configuration->userContentController()->addScriptMessageHandler(recorder, "harbor"));
    view->initWithFrame(plat::CGRectMake(0, 0, 320, 480), configuration);
    view->loadHTMLString(html, nullptr);
  }
};

}  // namespace harbor::testing
