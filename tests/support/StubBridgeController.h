#pragma once
// What the bridge needs of the view controller, and nothing more: a command queue, a command
// delegate, an engine, a map of service names to plugin objects and the settings. Service names
// are matched without regard to letter case, as the view controller matches them. Main thread.
#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "HBRCommandBridgeController.h"
#include "HBRCommandDelegateImpl.h"
#include "HBRCommandQueue.h"
#include "HBRPlugin.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/Object.h"

namespace harbor::testing {

class StubBridgeController : public plat::Object, public HBRCommandBridgeController {
 public:
  // Creates the queue, then the delegate (which takes the queue from the controller), as the
  // view controller does.
  void initWithWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine);

  // Creates a plugin as the registry would: engine first, then the delegate, then
  // pluginInitialize and the start hooks; registered under the service name.
  template <class P>
  std::shared_ptr<P> addPlugin(const std::string& service) {
    auto plugin = std::make_shared<P>();
    plugin->initWithWebViewEngine(engine_);
    plugin->setCommandDelegate(delegate_);
    plugin->initializePlugin();
    registerObject(service, plugin);
    return plugin;
  }
  // Any object under a service name (also one that is not a plugin).
  void registerObject(const std::string& service, const plat::ObjectPtr& object);
  void removeObject(const std::string& service);
  void removeAllObjects() { plugins_.clear(); }
  // By lower-cased service name.
  const std::map<std::string, plat::ObjectPtr>& objects() const { return plugins_; }

  // Plugins are looked up (and, in the real registry, created) on the main thread only; lookups
  // from other threads are counted here.
  plat::ObjectPtr getCommandInstance(const std::string& pluginName) override;
  std::atomic<int> lookupsOffTheMainThread{0};
  std::shared_ptr<HBRCommandQueue> commandQueue() override { return queue_; }
  std::shared_ptr<HBRCommandDelegate> commandDelegate() override { return delegate_; }
  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() override { return engine_; }
  std::string wwwFolderName() override { return wwwFolderName_; }
  std::string userAgent() override { return userAgent_; }
  const plat::Dictionary& settings() override { return settings_; }

  std::shared_ptr<HBRCommandDelegateImpl> delegate() const { return delegate_; }
  void setWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine) { engine_ = engine; }
  plat::Dictionary& mutableSettings() { return settings_; }
  void setUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }
  void setWwwFolderName(std::string folder) { wwwFolderName_ = std::move(folder); }

 private:
  std::shared_ptr<HBRWebViewEngineProtocol> engine_;
  std::shared_ptr<HBRCommandQueue> queue_;
  std::shared_ptr<HBRCommandDelegateImpl> delegate_;
  std::map<std::string, plat::ObjectPtr> plugins_;
  plat::Dictionary settings_;
  std::string userAgent_ = "Harbor test";
  std::string wwwFolderName_ = "www";
};

}  // namespace harbor::testing
