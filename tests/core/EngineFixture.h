#pragma once
// A sandbox with an application bundle whose pages load harbor.js, the real web view engines
// registered by the container's registration call, an echo plugin and voting plugins, and
// helpers that start a container view controller on a page and wait for it to load.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "HBRContainerClasses.h"
#include "HBRNavigationVoter.h"
#include "HBRTimer.h"
#include "HBRUserAgentUtil.h"
#include "HBRViewController.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIDriver.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"

namespace harbor::testing {

// Votes as it is told and notes who was asked, in order, in a shared journal.
class VotingPlugin : public HBRPlugin, public HBRNavigationVoter {
 public:
  bool shouldOverrideLoadWithRequest(const plat::NSURLRequestPtr& request, long navigationType) override {
    if (journal) journal->push_back(name + " " + std::to_string(navigationType) + " " + request->URL()->absoluteString());
    return answer;
  }
  std::string name;
  bool answer = true;
  std::vector<std::string>* journal = nullptr;
};

class EngineTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    plat::UIDriver::shared().reset();
    plat::UIApplication::resetSharedApplication();
    registerContainerClasses();
    plat::ClassRegistry::shared().registerClass<EchoPlugin>("EchoPlugin");
    writeFile(inBundle("www/harbor.js"), readSource(harborScriptPath()));
    writeFile(inBundle("www/index.html"), page(""));
  }

  void TearDown() override {
    controllers.clear();
    plat::UIApplication::resetSharedApplication();
    plat::UIDriver::shared().reset();
    plat::RunLoop::main().runUntilIdle();
    plat::ClassRegistry::shared().unregisterClass("EchoPlugin");
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    SandboxTest::TearDown();
  }

  static std::string readSource(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // A page that loads harbor.js and then runs the script.
  static std::string page(const std::string& script) {
    return "<!doctype html><html><head><script src=\"harbor.js\"></script></head><body><script>" + script +
           "</script></body></html>";
  }

  void writeConfig(const std::string& body) {
    writeFile(inBundle("config.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget>"
              "<feature name=\"Echo\"><param name=\"ios-package\" value=\"EchoPlugin\"/></feature>" +
                  body + "</widget>\n");
  }

  // Makes a controller, loads its view (the start-up sequence) and runs the loop until idle.
  HBRViewControllerPtr start(const std::string& config) {
    writeConfig(config);
    auto controller = std::make_shared<HBRViewController>();
    controller->init();
    controllers.push_back(controller);
    controller->view();
    plat::RunLoop::main().runUntilIdle();
    return controller;
  }

  // A voter added to the controller's plugin table under the class name.
  std::shared_ptr<VotingPlugin> addVoter(const HBRViewControllerPtr& controller, const std::string& className,
                                         bool answer, std::vector<std::string>* journal) {
    auto voter = std::make_shared<VotingPlugin>();
    voter->initWithWebViewEngine(controller->webViewEngine());
    voter->name = className;
    voter->answer = answer;
    voter->journal = journal;
    controller->registerPluginWithClassName(voter, className);
    return voter;
  }

  // Counts the notifications of a name while it lives, with their objects.
  struct NotificationRecorder {
    NotificationRecorder(const char* name) : token(std::make_shared<int>(0)) {
      plat::NSNotificationCenter::defaultCenter().addObserver(
          token, name, nullptr, [this](const plat::NSNotification& n) { objects.push_back(n.object); });
    }
    ~NotificationRecorder() { plat::NSNotificationCenter::defaultCenter().removeObserver(token.get()); }
    std::shared_ptr<int> token;
    std::vector<plat::ObjectPtr> objects;
  };

  std::vector<HBRViewControllerPtr> controllers;
};

}  // namespace harbor::testing
