#pragma once
// A sandbox with an application bundle (config.xml, www/index.html), the recording engine
// registered as the default engine, a test plugin class, and helpers that make and start view
// controllers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HBRContainerClasses.h"
#include "HBRTimer.h"
#include "HBRUserAgentUtil.h"
#include "HBRViewController.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/testing/SandboxTest.h"
#include "support/RecordingWebViewEngine.h"

namespace harbor::testing {

// A plugin that counts its initialisations and notes its disposal.
class CountingPlugin : public HBRPlugin {
 public:
  inline static int created = 0;
  inline static std::vector<std::string>* journal = nullptr;
  CountingPlugin() { ++created; }
  void pluginInitialize() override {
    ++initialized;
    if (journal) journal->push_back("pluginInitialize");
  }
  void dispose() override {
    if (journal) journal->push_back("dispose");
    HBRPlugin::dispose();
  }
  int initialized = 0;
};

// Not a plugin at all.
class NotAPlugin : public plat::Object {};

class ViewControllerTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    RecordingWebViewEngine::resetClass();
    registerContainerClasses();
    RecordingWebViewEngine::registerAs(kHBRDefaultWebViewEngine);
    plat::ClassRegistry::shared().registerClass<CountingPlugin>("CountingPlugin");
    plat::ClassRegistry::shared().registerClass<NotAPlugin>("NotAPlugin");
    CountingPlugin::created = 0;
    CountingPlugin::journal = nullptr;
    writeFile(inBundle("www/index.html"), "<html><body>hello</body></html>");
  }

  void TearDown() override {
    // Journals live on the tests' stacks; plugins disposed from here on must not write to them.
    CountingPlugin::journal = nullptr;
    controllers.clear();
    for (const char* name : {"CountingPlugin", "NotAPlugin", kHBRDefaultWebViewEngine, "HBRWKWebViewEngine"})
      plat::ClassRegistry::shared().unregisterClass(name);
    RecordingWebViewEngine::resetClass();
    HBRUserAgentUtil::resetForTesting();
    HBRTimer::clearAll();
    SandboxTest::TearDown();
  }

  // Writes config.xml with the given elements inside <widget>.
  void writeConfig(const std::string& body) {
    writeFile(inBundle("config.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget>" + body + "</widget>\n");
  }

  // A constructed controller (no view yet); the fixture keeps it until the test ends.
  HBRViewControllerPtr makeController(const std::function<void(HBRViewController&)>& configure = nullptr) {
    auto controller = std::make_shared<HBRViewController>();
    controller->init();
    if (configure) configure(*controller);
    controllers.push_back(controller);
    return controller;
  }

  // Writes config.xml, makes a controller and loads its view (the start-up sequence).
  HBRViewControllerPtr start(const std::string& config, const std::function<void(HBRViewController&)>& configure = nullptr) {
    writeConfig(config);
    auto controller = makeController(configure);
    controller->view();
    return controller;
  }

  static std::shared_ptr<RecordingWebViewEngine> engineOf(const HBRViewControllerPtr& controller) {
    return std::dynamic_pointer_cast<RecordingWebViewEngine>(controller->webViewEngine());
  }

  // The URL text of the only request the controller's engine was asked to load.
  std::string loadedURL(const HBRViewControllerPtr& controller) {
    auto engine = engineOf(controller);
    if (!engine || engine->requests.size() != 1 || !engine->requests[0]->URL()) return "<no single request>";
    return engine->requests[0]->URL()->absoluteString();
  }

  std::string bundleFileURL(const std::string& relative) { return "file://" + inBundle(relative); }

  std::vector<HBRViewControllerPtr> controllers;
};

}  // namespace harbor::testing
