#include "support/PluginTest.h"

#include <gtest/gtest.h>

#include "HBRCommandQueue.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Strings.h"
#include "plat/web/ScriptMessageBody.h"

namespace harbor::testing {

std::optional<PageCallback> parseCallbackScript(const std::string& script) {
  static const std::string head = "harbor.require('harbor/exec').nativeCallback('";
  static const std::string tail = ", 0)";
  if (!plat::startsWith(script, head) || !plat::endsWith(script, tail)) return std::nullopt;
  std::string body = script.substr(head.size(), script.size() - head.size() - tail.size());
  auto quote = body.find('\'');
  if (quote == std::string::npos) return std::nullopt;
  PageCallback callback;
  callback.callbackId = body.substr(0, quote);
  // The rest is ",<status>,<message>,<keep>": a JSON array once bracketed.
  auto parsed = plat::json::parse("[" + body.substr(quote + 2) + "]");
  if (!parsed || !parsed->isArray() || parsed->asArray().size() != 3) return std::nullopt;
  callback.status = static_cast<int>(parsed->at(0).asInt());
  callback.message = parsed->at(1);
  callback.keepCallback = parsed->at(2).asInt() == 1;
  return callback;
}

void PluginTest::SetUp() {
  SandboxTest::SetUp();
  engine = std::make_shared<ScriptRecordingEngine>();
  controller = std::make_shared<StubBridgeController>();
  controller->initWithWebViewEngine(engine);
}

void PluginTest::TearDown() {
  for (auto& [name, plugin] : controller->objects())
    if (auto p = std::dynamic_pointer_cast<HBRPlugin>(plugin)) p->dispose();
  controller->removeAllObjects();
  controller.reset();
  engine.reset();
  SandboxTest::TearDown();
}

std::shared_ptr<HBRPlugin> PluginTest::createPlugin(const std::string& className, const std::string& serviceName,
                                                    const std::shared_ptr<plat::UIViewController>& viewController) {
  auto plugin = std::dynamic_pointer_cast<HBRPlugin>(plat::ClassRegistry::shared().create(className));
  if (!plugin) return nullptr;
  plugin->initWithWebViewEngine(engine);
  plugin->setViewController(viewController);
  plugin->setCommandDelegate(controller->delegate());
  controller->registerObject(serviceName, plugin);
  plugin->initializePlugin();
  return plugin;
}

void PluginTest::exec(const std::string& service, const std::string& action, const plat::Array& arguments,
                      const std::string& callbackId) {
  plat::Array entry{plat::Value(callbackId), plat::Value(service), plat::Value(action), plat::Value(arguments)};
  auto batch = plat::json::write(plat::Value(plat::Array{plat::Value(entry)}));
  ASSERT_TRUE(batch.ok()) << batch.error();
  controller->commandQueue()->enqueueCommandBatch(*batch);
  controller->commandQueue()->executePending();
  runUntilIdle();
}

namespace {

// The page's script value for v, with bytes as a Uint8Array of them.
plat::JSValue pageValue(plat::JSContext& js, const plat::JSValue& toBytes, const plat::Value& v) {
  if (v.isData()) {
    auto bytes = toBytes.call({js.makeValue(v)});
    return bytes ? *bytes : js.undefined();
  }
  if (v.isArray()) {
    plat::JSValueList items;
    for (const plat::Value& item : v.asArray()) items.push_back(pageValue(js, toBytes, item));
    return js.makeArray(items);
  }
  if (v.isDictionary()) {
    plat::JSValue object = js.makeObject();
    for (const auto& [key, item] : v.asDictionary()) object.setProperty(key, pageValue(js, toBytes, item));
    return object;
  }
  return js.makeValue(v);
}

}  // namespace

std::optional<plat::Value> PluginTest::asScriptMessage(const std::string& service, const std::string& action,
                                                       const plat::Array& arguments, const std::string& callbackId) {
  plat::JSContext js;
  plat::web::ScriptMessageBodyReader reader(js);
  auto toBytes = js.evaluate("(function (buffer) { return new Uint8Array(buffer); })");
  EXPECT_TRUE(toBytes);
  if (!toBytes) return std::nullopt;
  plat::JSValueList wired;
  for (const plat::Value& argument : arguments) {
    // harbor.js sends a binary argument as Base64; the command turns it back into bytes.
    if (argument.isData())
      wired.push_back(js.makeValue(plat::Dictionary{{"HBRType", "ArrayBuffer"}, {"data", plat::base64Encode(argument.asData())}}));
    else
      wired.push_back(pageValue(js, *toBytes, argument));
  }
  plat::JSValue entry =
      js.makeArray({js.makeString(callbackId), js.makeString(service), js.makeString(action), js.makeArray(wired)});
  return reader.read(entry);
}

void PluginTest::execMessage(const std::string& service, const std::string& action, const plat::Array& arguments,
                             const std::string& callbackId) {
  std::optional<plat::Value> body = asScriptMessage(service, action, arguments, callbackId);
  // WebKit sends no message at all, or one that is no command (the engine logs and drops it).
  auto command = body ? HBRInvokedUrlCommand::commandFromJson(*body) : nullptr;
  if (command) controller->commandQueue()->execute(command);
  runUntilIdle();
}

std::vector<PageCallback> PluginTest::takeCallbacks() {
  std::vector<PageCallback> callbacks;
  for (const auto& script : engine->scripts) {
    auto parsed = parseCallbackScript(script);
    EXPECT_TRUE(parsed) << "not a callback script: " << script;
    if (parsed) callbacks.push_back(std::move(*parsed));
  }
  engine->scripts.clear();
  return callbacks;
}

}  // namespace harbor::testing
