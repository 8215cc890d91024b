#include "HBRPlugin.h"

#include <mutex>
#include <utility>
#include <vector>
#include "HBRViewController.h"
#include "plat/foundation/NSBundle.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIImage.h"

namespace harbor {
namespace {
std::mutex& startHooksMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::vector<std::pair<std::string, HBRPlugin::StartHook>>& startHooks() {
  static auto* hooks = new std::vector<std::pair<std::string, HBRPlugin::StartHook>>();
  return *hooks;
}
}  // namespace

void HBRPlugin::addStartHook(const std::string& name, StartHook hook) {
  std::lock_guard<std::mutex> lock(startHooksMutex());
  for (auto& [existing, slot] : startHooks()) {
    if (existing == name) {
      slot = std::move(hook);
      return;
    }
  }
  startHooks().emplace_back(name, std::move(hook));
}

void HBRPlugin::initializePlugin() {
  pluginInitialize();
  std::vector<std::pair<std::string, StartHook>> hooks;
  {
    std::lock_guard<std::mutex> lock(startHooksMutex());
    hooks = startHooks();
  }
  for (auto& [name, hook] : hooks)
    if (hook) hook(*this);
}

HBRPlugin::~HBRPlugin() {
  // Observers are registered under the plugin's Object address (see initWithWebViewEngine).
  plat::NSNotificationCenter::defaultCenter().removeObserver(static_cast<const plat::Object*>(this));
}

void HBRPlugin::initWithWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine) {
  auto& center = plat::NSNotificationCenter::defaultCenter();
  std::shared_ptr<plat::Object> self = shared_from_this();
  std::weak_ptr<HBRPlugin> weak = std::static_pointer_cast<HBRPlugin>(self);
  auto call = [weak](auto hook) {
    return [weak, hook](const plat::NSNotification& n) {
      if (auto p = weak.lock()) hook(*p, n);
    };
  };
  center.addObserver(self, kUIApplicationWillTerminateNotification, nullptr,
                     call([](HBRPlugin& p, const plat::NSNotification&) { p.onAppTerminate(); }));
  center.addObserver(self, kUIApplicationDidReceiveMemoryWarningNotification, nullptr,
                     call([](HBRPlugin& p, const plat::NSNotification&) { p.onMemoryWarning(); }));
  center.addObserver(self, kHBRPluginHandleOpenURLNotification, nullptr,
                     call([](HBRPlugin& p, const plat::NSNotification& n) { p.handleOpenURL(n); }));
  // Resets only for loads in this plugin's own engine view, taken now. Without a view there is
  // no page of its own to reset for; observing with no object would hear every view's loads.
  if (plat::ObjectPtr view = engine ? engine->engineWebView() : nullptr)
    center.addObserver(self, kHBRPluginResetNotification, view,
                       call([](HBRPlugin& p, const plat::NSNotification&) { p.onReset(); }));
  webViewEngine_ = engine;
}

void HBRPlugin::dispose() {
  viewController_.reset();
  commandDelegate_.reset();
}

bool HBRPlugin::performAction(const std::string& name, const HBRInvokedUrlCommandPtr& command) {
  auto it = actions_.find(name);
  if (it == actions_.end()) return false;
  // A copy: the action may register or replace actions while it runs.
  Action action = it->second;
  action(command);
  return true;
}

plat::ObjectPtr HBRPlugin::webView() const {
  auto engine = webViewEngine_.lock();
  return engine ? engine->engineWebView() : nullptr;
}

std::shared_ptr<plat::UIApplicationDelegate> HBRPlugin::appDelegate() const {
  return plat::UIApplication::sharedApplication()->delegate();
}

std::string HBRPlugin::pluginLocalizedString(const std::string& key) const {
  auto main = plat::NSBundle::mainBundle();
  auto path = main->pathForResource(HBRViewController::classNameOf(*this), "bundle");
  plat::NSBundlePtr bundle = path ? plat::NSBundle::bundleWithPath(*path) : nullptr;
  return bundle ? bundle->localizedStringForKey(key, "", "") : key;
}

std::shared_ptr<plat::UIImage> HBRPlugin::pluginImageResource(const std::string& name) const {
  return plat::UIImage::imageNamed(HBRViewController::classNameOf(*this) + ".bundle/" + name);
}

}  // namespace harbor
