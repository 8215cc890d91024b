#pragma once
// The container: one view controller that owns the web view engine, the command queue and
// command delegate, the preferences and the plugin registry, and loads the start page.
//
// Life of a controller:
//   make_shared, then init()     creates the queue and delegate, observes the application's
//                                lifecycle, reads the orientations, logs the start-up lines
//   view() (first use)           viewDidLoad: reads config.xml, repairs web storage, creates
//                                the engine and the start-up plugins, asks for the user-agent
//                                lock and, once granted, loads the start page (or the error page)
//   later                        plugins are created on first use; lifecycle notifications fire
//                                page events; termination empties the temporary folder
//   destruction                  stops observing, gives back the user-agent lock, disposes the
//                                queue and every plugin
//
// The host may set wwwFolderName, startPage, baseUserAgent, configFile and preference overrides
// before the view loads; what it sets wins over config.xml.
//
// Main thread only. Plugins reach the registry through the command delegate.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HBRCommandBridgeController.h"
#include "HBRCommandDelegateImpl.h"
#include "HBRCommandQueue.h"
#include "HBRConfigLoader.h"
#include "HBRPlugin.h"
#include "HBRScreenOrientationDelegate.h"
#include "HBRWebViewEngineProtocol.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSXMLParser.h"
#include "plat/uikit/Geometry.h"
#include "plat/uikit/UIViewController.h"

namespace harbor {

inline constexpr char kHBRDefaultWebViewEngine[] = "HBRUIWebViewEngine";
inline constexpr char kHBRWebViewEngineSetting[] = "HarborWebViewEngine";
inline constexpr double kHBRStartPageTimeout = 20.0;
// Evaluated before a lifecycle event: "true" (as text, under either engine) when the page on
// show has the bridge to hear it.
inline constexpr char kHBRPageHasBridgeScript[] =
    "String(typeof harbor === 'object' && harbor !== null && typeof harbor.require === 'function' && "
    "typeof harbor.fireDocumentEvent === 'function')";

class HBRViewController : public plat::UIViewController,
                          public HBRCommandBridgeController,
                          public HBRScreenOrientationDelegate {
 public:
  HBRViewController() = default;
  ~HBRViewController() override;

  // Second creation step (any of them; construction runs once).
  virtual void init();
  virtual void initWithNibNameBundle(const std::optional<std::string>& nibName, const plat::NSBundlePtr& bundle);

  // ---- Start-up ----

  void printVersion();
  void printMultitaskingInfo();
  void printPlatformVersionWarning();

  // The full path of the configuration file (assertion failure when there is none).
  std::string configFilePath();
  // Parses the configuration file with the delegate, synchronously.
  void parseSettingsWithParser(const std::shared_ptr<plat::NSXMLParserDelegate>& delegate);
  // Reads config.xml into the preferences, the plugin map, the start-up plugins and the start page.
  void loadSettings();

  void viewDidLoad() override;
  void viewDidUnload() override;
  void didReceiveMemoryWarning() override;

  // The start page, or null when it cannot be found.
  plat::NSURLPtr appUrl();
  // The error page of the preference "ErrorUrl", or null.
  plat::NSURLPtr errorURL();

  // Chooses and creates the engine (falling back to the UIWebView engine) and registers it as a
  // plugin. The result is the engine's view, or null when no engine could be made.
  plat::ObjectPtr newHarborViewWithFrame(const plat::CGRect& frame);
  // The engine's view over the whole view, behind every other subview.
  void createHarborView();

  // ---- Plugin registry ----

  // The one plugin of the service, created on first use; null when the service is unknown or
  // its class cannot be made (logged).
  plat::ObjectPtr getCommandInstance(const std::string& pluginName) override;
  // Wires the plugin (view controller, command delegate), stores it under the class name and
  // runs its pluginInitialize and the start hooks (initializePlugin).
  void registerPluginWithClassName(const HBRPluginPtr& plugin, const std::string& className);
  // The same, under the plugin's own class name, and maps the service name to that class.
  void registerPluginWithPluginName(const HBRPluginPtr& plugin, const std::string& pluginName);

  // ---- Lifecycle (observers installed by init) ----

  // Each fires its page event through the command delegate, only into a page that has the
  // bridge: the empty document shown before the start page (the launch's "active" comes then)
  // and pages without harbor.js cannot hear it, and evaluating it there would only log a script
  // error. The event is dropped for them, as on a device.
  void onAppWillResignActive(const plat::NSNotification& notification);
  void onAppDidEnterBackground(const plat::NSNotification& notification);
  void onAppWillEnterForeground(const plat::NSNotification& notification);
  void onAppDidBecomeActive(const plat::NSNotification& notification);
  void onAppWillTerminate(const plat::NSNotification& notification);

  // Removes everything below directory, walking a listing taken first. A path that went with
  // its folder is not a failure; a removal that fails is logged and the walk goes on.
  static void removeContentsOfDirectory(plat::NSFileManager& fileManager, const std::string& directory);

  // ---- Orientation ----

  // Interface orientation names (an array of strings, or anything else for none) -> values, in
  // the order given; unknown names are skipped; nothing known gives portrait alone.
  static std::vector<long> parseInterfaceOrientations(const plat::Value& orientations);
  bool supportsOrientation(plat::UIInterfaceOrientation orientation) const;
  unsigned long supportedInterfaceOrientations() override;
  bool shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation orientation) override;
  // The hook's answer when one is installed, else shouldAutorotateDefaultValue.
  bool shouldAutorotate() override;
  // The controller's own answer: yes.
  bool shouldAutorotateDefaultValue() const { return true; }
  // Lets a plugin (the splash screen) take over the autorotation answer; null gives it back.
  void setShouldAutorotateHook(std::function<bool()> hook) { shouldAutorotateHook_ = std::move(hook); }

  // ---- Status bar look, when view controllers choose it (kept for the status-bar plugin) ----

  // The stored flag (shown when never set) and style (the default one when never set).
  bool prefersStatusBarHidden() const override { return sbHideStatusBar_.value_or(false); }
  long preferredStatusBarStyle() const override { return sbStatusBarStyle_.value_or(0); }
  std::optional<bool> sbHideStatusBar() const { return sbHideStatusBar_; }
  void setSbHideStatusBar(bool hidden) { sbHideStatusBar_ = hidden; }
  std::optional<long> sbStatusBarStyle() const { return sbStatusBarStyle_; }
  void setSbStatusBarStyle(long style) { sbStatusBarStyle_ = style; }

  // The first URL scheme of the first URL type in Info.plist, or nothing.
  static std::optional<std::string> appURLScheme();

  // ---- Properties ----

  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine() override { return webViewEngine_; }
  // The engine's view, or null while there is no engine.
  plat::ObjectPtr webView() const;
  std::shared_ptr<HBRCommandDelegate> commandDelegate() override { return commandDelegate_; }
  std::shared_ptr<HBRCommandQueue> commandQueue() override { return commandQueue_; }
  // Formed on first use, then kept.
  std::string userAgent() override;
  // The token field of the user-agent lock held for the current page load (0: none). Engines
  // release the lock through it once the load finished or failed.
  std::int64_t* userAgentLockToken() { return &userAgentLockToken_; }
  // The engines tell the controller each navigation decision they take (main thread). When the
  // page it asked them to load as start page (or as error page) is refused, no load would ever
  // end to release the lock or show anything: the lock is released and the error page shown,
  // as for a start page that is missing; an error page refused in turn gives way to the inline one.
  void didDecideNavigation(const plat::NSURLRequestPtr& request, bool allowed);
  const std::vector<long>& supportedOrientations() const { return supportedOrientations_; }
  void setSupportedOrientations(std::vector<long> orientations) { supportedOrientations_ = std::move(orientations); }
  // Class name -> the one object of that class.
  const std::map<std::string, HBRPluginPtr>& pluginObjects() const { return pluginObjects_; }
  // Lower-cased service name -> class name.
  const plat::Dictionary& pluginsMap() const { return pluginsMap_; }
  std::vector<std::string>& startupPluginNames() { return startupPluginNames_; }
  std::shared_ptr<plat::NSXMLParser> configParser() const { return configLoader_.configParser(); }
  // The preferences, keyed by lower-cased name.
  const plat::Dictionary& settings() override { return settings_; }
  plat::Dictionary& mutableSettings() { return settings_; }
  std::string wwwFolderName() override { return wwwFolderName_.value_or(""); }
  void setWwwFolderName(std::string name) { wwwFolderName_ = std::move(name); }
  std::string startPage() const { return startPage_.value_or(""); }
  void setStartPage(std::string page) { startPage_ = std::move(page); }
  plat::NSURLPtr openURL() const { return openURL_; }
  void setOpenURL(plat::NSURLPtr url) { openURL_ = std::move(url); }
  std::optional<std::string> baseUserAgent() const { return baseUserAgent_; }
  void setBaseUserAgent(std::string userAgent) { baseUserAgent_ = std::move(userAgent); }
  std::string configFile() const { return configLoader_.configFile(); }
  void setConfigFile(std::string file) { configLoader_.setConfigFile(std::move(file)); }
  // Preferences that replace config.xml's of the same name (in any case) when the view loads:
  // how a runner chooses the engine without touching the bundle.
  const plat::Dictionary& preferenceOverrides() const { return preferenceOverrides_; }
  void setPreferenceOverrides(plat::Dictionary overrides) { preferenceOverrides_ = std::move(overrides); }

  // The class name of an object as the class registry knows it: its C++ class without
  // namespaces.
  static std::string classNameOf(const plat::Object& object);

 private:
  void initOnce();
  // Whether config.xml maps a service to the class name.
  bool namesAPluginClass(const std::string& className) const;
  void loadStartPage(const plat::NSURLPtr& url);
  // Logs the message and shows it: on the error page ("ErrorUrl") when there is one, unless
  // `inline` asks for the built-in page, else as inline HTML.
  void showStartPageError(const std::string& message, bool inlinePage);
  void fireDocumentEvent(const std::string& script, bool scheduledOnRunLoop);
  void observe(const char* name, void (HBRViewController::*handler)(const plat::NSNotification&));

  std::shared_ptr<HBRWebViewEngineProtocol> webViewEngine_;
  std::shared_ptr<HBRCommandDelegateImpl> commandDelegate_;
  std::shared_ptr<HBRCommandQueue> commandQueue_;
  std::optional<std::string> userAgent_;
  std::int64_t userAgentLockToken_ = 0;
  // The page the controller asked the engine to load and whose navigation was not decided yet:
  // the start page or the error page, with the message the error page shows.
  plat::NSURLPtr undecidedPage_;
  std::optional<std::string> undecidedErrorMessage_;
  bool initialized_ = false;
  std::vector<long> supportedOrientations_;
  std::map<std::string, HBRPluginPtr> pluginObjects_;
  plat::Dictionary pluginsMap_;
  std::vector<std::string> startupPluginNames_;
  HBRConfigLoader configLoader_;
  plat::Dictionary settings_;
  std::optional<std::string> wwwFolderName_;
  std::optional<std::string> startPage_;
  plat::NSURLPtr openURL_;
  std::optional<std::string> baseUserAgent_;
  plat::Dictionary preferenceOverrides_;
  std::function<bool()> shouldAutorotateHook_;
  std::optional<bool> sbHideStatusBar_;
  std::optional<long> sbStatusBarStyle_;
};

using HBRViewControllerPtr = std::shared_ptr<HBRViewController>;

}  // namespace harbor
