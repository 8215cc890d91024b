#pragma once
// The base of every plugin. A plugin is tied to one web view engine; it hears the application's
// terminate and memory-warning notifications, opened URLs, and page loads in its own engine's
// view, as overridable hooks. Page actions are entries of its action table: the page's action
// name mapped to a member function that takes the command.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "HBRCommandDelegate.h"
#include "HBRInvokedUrlCommand.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/Object.h"

namespace plat {
class UIApplicationDelegate;
class UIImage;
class UIViewController;
}

namespace harbor {

inline constexpr char kHBRPluginHandleOpenURLNotification[] = "HBRPluginHandleOpenURLNotification";
inline constexpr char kHBRPluginResetNotification[] = "HBRPluginResetNotification";
inline constexpr char kHBRPageDidLoadNotification[] = "HBRPageDidLoadNotification";
// Posted when a page's load failed, as "Failed to load webpage with error: ..." is logged
// (object: the web view; userInfo {"error": the error's description}), for whoever waits on the
// page: the log line is no signal, since a page's text can read the same.
inline constexpr char kHBRPageDidFailLoadNotification[] = "HBRPageDidFailLoadNotification";
// Posted by the application delegate's hook when a local notification arrives (object: the
// platform notification); see HBRAppDelegate.
inline constexpr char kHBRLocalNotification[] = "HBRLocalNotification";
inline constexpr char kUIApplicationWillTerminateNotification[] = "UIApplicationWillTerminateNotification";
inline constexpr char kUIApplicationDidReceiveMemoryWarningNotification[] =
    "UIApplicationDidReceiveMemoryWarningNotification";

class HBRPlugin : public plat::Object {
 public:
  using Action = std::function<void(const HBRInvokedUrlCommandPtr&)>;

  HBRPlugin() = default;
  ~HBRPlugin() override;

  // Second step of creation; the plugin must already be owned by a shared_ptr. Observes the
  // four notifications, then keeps the engine weakly. Page resets are heard only from the
  // engine's view: a plugin made without an engine (or one without a view) hears none.
  virtual void initWithWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine);
  // Run once, by initializePlugin, after viewController and commandDelegate are set.
  virtual void pluginInitialize() {}
  // What the registry runs once per plugin object: its own pluginInitialize, then every start
  // hook, in the order they were added.
  void initializePlugin();

  // Start hooks let a plugin library add start work to plugins it does not own (the local
  // notification library makes its plugins observe application events this way) without
  // replacing any plugin's own pluginInitialize. Added under a name; adding the same name again
  // replaces that hook. Add them at start-up, before plugins are created.
  using StartHook = std::function<void(HBRPlugin&)>;
  static void addStartHook(const std::string& name, StartHook hook);
  // The view controller is going away: clears viewController and commandDelegate.
  virtual void dispose();

  virtual void handleOpenURL(const plat::NSNotification& notification) {}
  virtual void onAppTerminate() {}
  virtual void onMemoryWarning() {}
  virtual void onReset() {}

  // The page-facing actions.
  bool respondsToAction(const std::string& name) const { return actions_.count(name) != 0; }
  // Runs the action; false when the plugin has no such action.
  bool performAction(const std::string& name, const HBRInvokedUrlCommandPtr& command);

  bool hasPendingOperation() const { return hasPendingOperation_; }
  void setHasPendingOperation(bool pending) { hasPendingOperation_ = pending; }
  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() const { return webViewEngine_.lock(); }
  void setWebViewEngine(const std::shared_ptr<HBRWebViewEngineProtocol>& engine) { webViewEngine_ = engine; }
  std::shared_ptr<plat::UIViewController> viewController() const { return viewController_.lock(); }
  void setViewController(const std::shared_ptr<plat::UIViewController>& vc) { viewController_ = vc; }
  std::shared_ptr<HBRCommandDelegate> commandDelegate() const { return commandDelegate_.lock(); }
  void setCommandDelegate(const std::shared_ptr<HBRCommandDelegate>& delegate) { commandDelegate_ = delegate; }
  // The engine's view, or null when the engine is gone.
  plat::ObjectPtr webView() const;
  // The shared application's delegate (null before the application has one).
  std::shared_ptr<plat::UIApplicationDelegate> appDelegate() const;

  // A plugin's own resources live in "<class name>.bundle" at the top of the application
  // bundle (the build copies a plugin's resources/ folder there). Main thread or any.
  //
  // The text for `key` in that bundle's localized "Localizable.strings" (the user's language,
  // then the bundle's development region, then Base); the key itself when no table has it or
  // the plugin has no bundle.
  std::string pluginLocalizedString(const std::string& key) const;
  // The image "<class name>.bundle/<name>" (see plat::UIImage::imageNamed: a name without an
  // extension means PNG, its variant for the screen's scale first); null when there is none.
  std::shared_ptr<plat::UIImage> pluginImageResource(const std::string& name) const;

 protected:
  // Adds a page action: registerAction("echo", &MyPlugin::echo).
  template <class P>
  void registerAction(const std::string& name, void (P::*method)(const HBRInvokedUrlCommandPtr&)) {
    P* self = static_cast<P*>(this);
    actions_[name] = [self, method](const HBRInvokedUrlCommandPtr& command) { (self->*method)(command); };
  }
  void registerAction(const std::string& name, Action action) { actions_[name] = std::move(action); }

 private:
  bool hasPendingOperation_ = false;
  std::weak_ptr<HBRWebViewEngineProtocol> webViewEngine_;
  std::weak_ptr<plat::UIViewController> viewController_;
  std::weak_ptr<HBRCommandDelegate> commandDelegate_;
  std::map<std::string, Action> actions_;
};

using HBRPluginPtr = std::shared_ptr<HBRPlugin>;

}  // namespace harbor
