#include "LCNAppEvent.h"

#include "HBRAppDelegate.h"
#include "plat/uikit/UIApplication.h"

namespace harbor {
namespace {

// Observes `name` on behalf of the plugin when it implements the handler interface H.
template <class H>
void observe(HBRPlugin& plugin, const char* name, void (H::*handler)(const plat::NSNotification&)) {
  if (!dynamic_cast<H*>(&plugin)) return;
  std::shared_ptr<plat::Object> self = plugin.shared_from_this();
  std::weak_ptr<plat::Object> weak = self;
  plat::NSNotificationCenter::defaultCenter().addObserver(self, name, nullptr,
                                                          [weak, handler](const plat::NSNotification& n) {
                                                            auto strong = weak.lock();
                                                            if (auto h = std::dynamic_pointer_cast<H>(strong))
                                                              ((*h).*handler)(n);
                                                          });
}

}  // namespace

void observeAppEvents(HBRPlugin& plugin) {
  observe(plugin, kHBRLocalNotification, &LCNLocalNotificationHandler::didReceiveLocalNotification);
  observe(plugin, plat::UIApplicationDidFinishLaunchingNotification, &LCNLaunchHandler::didFinishLaunchingWithOptions);
  observe(plugin, kUIApplicationRegisterUserNotificationSettings,
          &LCNUserNotificationSettingsHandler::didRegisterUserNotificationSettings);
}

void installAppEventHooks() {
  HBRAppDelegate::setDidRegisterUserNotificationSettingsHook(
      [](const plat::UIApplicationPtr&, const plat::UIUserNotificationSettingsPtr& settings) {
        plat::NSNotificationCenter::defaultCenter().post(kUIApplicationRegisterUserNotificationSettings, settings);
      });
  HBRAppDelegate::setDidReceiveLocalNotificationHook(
      [](const plat::UIApplicationPtr&, const plat::UILocalNotificationPtr& notification) {
        plat::NSNotificationCenter::defaultCenter().post(kHBRLocalNotification, notification);
      });
  HBRPlugin::addStartHook("LCNAppEvent", [](HBRPlugin& plugin) {
    if (dynamic_cast<LCNAppEventDelegate*>(&plugin)) observeAppEvents(plugin);
  });
}

}  // namespace harbor
