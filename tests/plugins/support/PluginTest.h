#pragma once
// What plugin tests need around a plugin: a recording web view engine, a stub controller that
// owns the real command queue and delegate, and a fixture that creates plugins by class name,
// runs page commands through the queue and reads back the callbacks the page received.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HBRCommandBridgeController.h"
#include "HBRCommandDelegateImpl.h"
#include "HBRCommandQueue.h"
#include "HBRPlugin.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/testing/SandboxTest.h"

namespace harbor::testing {

// Records every script it is asked to evaluate; the page returns nothing.
class RecordingEngine : public plat::Object, public HBRWebViewEngineProtocol {
 public:
  void evaluateJavaScript(const std::string& script, EvaluationCompletion completion) override;
  plat::ObjectPtr engineWebView() override { return view_; }

  std::vector<std::string> scripts;

 private:
  plat::ObjectPtr view_ = std::make_shared<plat::Object>();
};

class StubController : public plat::Object, public HBRCommandBridgeController {
 public:
  void init();

  plat::ObjectPtr getCommandInstance(const std::string& pluginName) override;
  std::shared_ptr<HBRCommandQueue> commandQueue() override { return queue; }
  std::shared_ptr<HBRCommandDelegate> commandDelegate() override { return delegate; }
  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() override { return engine; }
  std::string wwwFolderName() override { return "www"; }
  std::string userAgent() override { return "Harbor test"; }
  const plat::Dictionary& settings() override { return preferences; }

  std::shared_ptr<HBRCommandQueue> queue = std::make_shared<HBRCommandQueue>();
  std::shared_ptr<HBRCommandDelegateImpl> delegate = std::make_shared<HBRCommandDelegateImpl>();
  std::shared_ptr<RecordingEngine> engine = std::make_shared<RecordingEngine>();
  std::map<std::string, plat::ObjectPtr> services;  // by lower-cased service name
  plat::Dictionary preferences;
};

// One delivered result, as the page's nativeCallback received it.
struct PageCallback {
  std::string callbackId;
  int status = -1;
  plat::Value message;
  bool keepCallback = false;
};

// Reads "harbor.require('harbor/exec').nativeCallback('<id>',<status>,<message>,<keep>, 0)".
std::optional<PageCallback> parseCallbackScript(const std::string& script);

// Each test runs in a fresh sandbox home with its own application bundle and user defaults.
class PluginTest : public plat::testing::SandboxTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the plugin through the class registry, as the container's registry does: engine,
  // view controller, command delegate, then pluginInitialize. Null when the class is unknown.
  std::shared_ptr<HBRPlugin> createPlugin(const std::string& className, const std::string& serviceName,
                                          const std::shared_ptr<plat::UIViewController>& viewController = nullptr);
  template <class P>
  std::shared_ptr<P> create(const std::string& className, const std::string& serviceName,
                            const std::shared_ptr<plat::UIViewController>& viewController = nullptr) {
    return std::dynamic_pointer_cast<P>(createPlugin(className, serviceName, viewController));
  }

  // Sends one command as the page does, through the command queue, and runs the loop until idle.
  void exec(const std::string& service, const std::string& action, const plat::Array& arguments = {},
            const std::string& callbackId = "cb");
  // The callbacks delivered since the last call.
  std::vector<PageCallback> takeCallbacks();

  std::shared_ptr<StubController> controller;
};

}  // namespace harbor::testing
