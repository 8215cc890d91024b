#pragma once
// What plugin tests need around a plugin: the shared recording engine and stub controller (which
// owns the real command queue and delegate), and a fixture that creates plugins by class name,
// runs page commands through the queue and reads back the callbacks the page received.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HBRPlugin.h"
#include "plat/testing/SandboxTest.h"
#include "support/ScriptRecordingEngine.h"
#include "support/StubBridgeController.h"

namespace harbor::testing {

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
  // view controller, command delegate, then pluginInitialize and the start hooks. Null when the class is unknown.
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
  // Sends one command as a WKWebView page's script message does, the arguments being the page's
  // values (Data a Uint8Array of its bytes): what reaches the plugin is what WebKit delivers of
  // them (plat/web/ScriptMessageBody.h: NaN and the infinities null, -0 the integer 0, nested
  // bytes an object of numbered bytes, a top-level one bytes again through the bridge's Base64,
  // and no command at all for a message nested deeper than 512 levels).
  void execMessage(const std::string& service, const std::string& action, const plat::Array& arguments = {},
                   const std::string& callbackId = "cb");
  // The message body execMessage would deliver; nothing when WebKit would send none.
  static std::optional<plat::Value> asScriptMessage(const std::string& service, const std::string& action,
                                                    const plat::Array& arguments, const std::string& callbackId = "cb");
  // The callbacks delivered since the last call.
  std::vector<PageCallback> takeCallbacks();

  // The page returns nothing to the scripts the plugins send it.
  std::shared_ptr<ScriptRecordingEngine> engine;
  std::shared_ptr<StubBridgeController> controller;
};

}  // namespace harbor::testing
