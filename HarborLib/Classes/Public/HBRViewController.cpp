#include "HBRViewController.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "HBRConfigParser.h"
#include "HBRLocalStorage.h"
#include "HBRPreferences.h"
#include "HBRTimer.h"
#include "HBRUserAgentUtil.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIPasteboard.h"
#include "plat/uikit/UIView.h"

namespace harbor {
namespace {

constexpr int kVersionMajor = 4;
constexpr int kVersionMinor = 2;
constexpr int kVersionPatch = 0;
constexpr char kMinimumSystemVersion[] = "8.0";

// The integer value of an Info.plist entry as the platform reads it from a number or a text.
long integerValueOf(const plat::Value& value) {
  if (value.isNumber()) return static_cast<long>(value.asInt());
  if (value.isString()) return std::strtol(value.asString().c_str(), nullptr, 10);
  return 0;
}

// Text placed into HTML: the characters that would start markup or an entity are escaped.
std::string escapedHTML(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

// ---- Construction ----

void HBRViewController::init() { initOnce(); }

void HBRViewController::initWithNibNameBundle(const std::optional<std::string>&, const plat::NSBundlePtr&) {
  initOnce();
}

void HBRViewController::initOnce() {
  if (initialized_) return;
  auto self = this->self<HBRViewController>();
  // The delegate takes the queue from the controller, so the queue comes first.
  commandQueue_ = std::make_shared<HBRCommandQueue>();
  commandQueue_->initWithViewController(self);
  commandDelegate_ = std::make_shared<HBRCommandDelegateImpl>();
  commandDelegate_->initWithViewController(self);

  observe(plat::UIApplicationWillTerminateNotification, &HBRViewController::onAppWillTerminate);
  observe(plat::UIApplicationWillResignActiveNotification, &HBRViewController::onAppWillResignActive);
  observe(plat::UIApplicationDidBecomeActiveNotification, &HBRViewController::onAppDidBecomeActive);
  observe(plat::UIApplicationWillEnterForegroundNotification, &HBRViewController::onAppWillEnterForeground);
  observe(plat::UIApplicationDidEnterBackgroundNotification, &HBRViewController::onAppDidEnterBackground);

  supportedOrientations_ =
      parseInterfaceOrientations(plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("UISupportedInterfaceOrientations"));

  printVersion();
  printMultitaskingInfo();
  printPlatformVersionWarning();
  initialized_ = true;
}

void HBRViewController::observe(const char* name, void (HBRViewController::*handler)(const plat::NSNotification&)) {
  std::weak_ptr<HBRViewController> weak = weakSelf<HBRViewController>();
  plat::NSNotificationCenter::defaultCenter().addObserver(shared_from_this(), name, nullptr,
                                                          [weak, handler](const plat::NSNotification& n) {
                                                            if (auto self = weak.lock()) ((*self).*handler)(n);
                                                          });
}

HBRViewController::~HBRViewController() {
  plat::NSNotificationCenter::defaultCenter().removeObserver(static_cast<const plat::Object*>(this));
  HBRUserAgentUtil::releaseLock(&userAgentLockToken_);
  if (commandQueue_) commandQueue_->dispose();
  for (const auto& [className, plugin] : pluginObjects_) plugin->dispose();
}

void HBRViewController::printVersion() {
  plat::NSLogf("Harbor native platform version %s is starting.",
               plat::format("%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch).c_str());
}

void HBRViewController::printMultitaskingInfo() {
  auto device = plat::UIDevice::currentDevice();
  bool deviceMultitasking = device && device->isMultitaskingSupported();
  const plat::Value& exitsOnSuspend =
      plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("UIApplicationExitsOnSuspend");
  bool appMultitasking = integerValueOf(exitsOnSuspend) == 0;
  plat::NSLogf("Multi-tasking -> Device: %s, App: %s", deviceMultitasking ? "YES" : "NO",
               appMultitasking ? "YES" : "NO");
}

void HBRViewController::printPlatformVersionWarning() {
  std::string systemVersion = plat::UIDevice::currentDevice()->systemVersion();
  if (plat::compareVersions(systemVersion, kMinimumSystemVersion) < 0) {
    plat::NSLogf(
        "CRITICAL: For Harbor 4.0.0 and above, you will need to upgrade to at least iOS 8.0 or greater. Your "
        "current version of iOS is %s.",
        systemVersion.c_str());
  }
}

// ---- Settings ----

std::string HBRViewController::configFilePath() { return configLoader_.configFilePath(); }

void HBRViewController::parseSettingsWithParser(const std::shared_ptr<plat::NSXMLParserDelegate>& delegate) {
  configLoader_.parseSettingsWithParser(delegate);
}

void HBRViewController::loadSettings() {
  auto parser = std::make_shared<HBRConfigParser>();
  parseSettingsWithParser(parser);

  pluginsMap_ = parser->pluginsDict();
  startupPluginNames_ = parser->startupPluginNames();
  settings_ = parser->settings();
  for (const auto& [name, value] : preferenceOverrides_) setHarborSetting(settings_, value, name);

  if (!wwwFolderName_) wwwFolderName_ = "www";
  if (parser->startPage() && !startPage_) startPage_ = parser->startPage();
  if (!startPage_) startPage_ = "index.html";

  pluginObjects_.clear();
}

// ---- Start-up ----

void HBRViewController::viewDidLoad() {
  plat::UIViewController::viewDidLoad();
  loadSettings();

  const plat::Value& backupSetting = harborSettingForKey(settings_, kHBRBackupWebStorageSetting);
  std::string backupType = backupSetting.isString() ? backupSetting.asString() : std::string("cloud");
  setHarborSetting(settings_, backupType, kHBRBackupWebStorageSetting);
  // Before any web view exists: the repair moves the files web views keep open.
  HBRLocalStorage::fixupDatabaseLocationsWithBackupType(backupType);

  if (!webView()) createHarborView();

  if (backupType == "local" && pluginsMap_.contains("localstorage")) startupPluginNames_.push_back("localstorage");

  if (!startupPluginNames_.empty()) {
    HBRTimer::start("TotalPluginStartup");
    // A copy: a plugin's start-up may register further services.
    std::vector<std::string> names = startupPluginNames_;
    for (const std::string& name : names) {
      HBRTimer::start(name);
      getCommandInstance(name);
      HBRTimer::stop(name);
    }
    HBRTimer::stop("TotalPluginStartup");
  }

  plat::NSURLPtr url = appUrl();
  std::weak_ptr<HBRViewController> weak = weakSelf<HBRViewController>();
  HBRUserAgentUtil::acquireLock([weak, url](std::int64_t lockToken) {
    auto self = weak.lock();
    if (!self) {
      // Nobody is left to load a page or to release the lock later: hand it on now, or every
      // later load would wait for ever.
      HBRUserAgentUtil::releaseLock(&lockToken);
      return;
    }
    self->userAgentLockToken_ = lockToken;
    HBRUserAgentUtil::setUserAgent(self->userAgent(), lockToken);
    self->loadStartPage(url);
  });
}

void HBRViewController::loadStartPage(const plat::NSURLPtr& url) {
  auto engine = webViewEngine_;
  if (!engine) {
    // No engine would ever report the load, so no one else would release the lock.
    plat::NSLog("ERROR: No web view engine could be created; the start page is not loaded.");
    HBRUserAgentUtil::releaseLock(&userAgentLockToken_);
    return;
  }
  if (url) {
    undecidedPage_ = url;
    undecidedErrorMessage_.reset();
    engine->loadRequest(
        plat::NSURLRequest::requestWithURL(url, plat::NSURLRequestCachePolicy::UseProtocolCachePolicy, kHBRStartPageTimeout));
    return;
  }
  showStartPageError(
      plat::format("ERROR: Start Page at '%s/%s' was not found.", wwwFolderName().c_str(), startPage().c_str()), false);
}

void HBRViewController::showStartPageError(const std::string& message, bool inlinePage) {
  auto engine = webViewEngine_;
  if (!engine) return;
  plat::NSLog(message);
  if (plat::NSURLPtr errorPage = inlinePage ? nullptr : errorURL()) {
    // Everything but the unreserved characters is escaped, so that "&", "#" or "?" in the text
    // cannot cut the query short.
    plat::NSURLPtr target = plat::NSURL::URLWithStringRelativeToURL("?error=" + plat::percentEscape(message), errorPage);
    if (target) {
      plat::NSLog(target->absoluteString());
      undecidedPage_ = target->absoluteURL();
      undecidedErrorMessage_ = message;
      engine->loadRequest(plat::NSURLRequest::requestWithURL(target->absoluteURL()));
      return;
    }
  }
  undecidedPage_.reset();
  undecidedErrorMessage_.reset();
  // The names come from config.xml or the host: shown as text, never as markup.
  engine->loadHTMLString(plat::format("<html><body> %s </body></html>", escapedHTML(message).c_str()), nullptr);
}

void HBRViewController::didDecideNavigation(const plat::NSURLRequestPtr& request, bool allowed) {
  const plat::NSURLPtr& url = request ? request->URL() : nullptr;
  if (!undecidedPage_ || !url || url->absoluteString() != undecidedPage_->absoluteString()) return;
  plat::NSURLPtr page = std::move(undecidedPage_);
  std::optional<std::string> errorMessage = std::move(undecidedErrorMessage_);
  undecidedPage_.reset();
  undecidedErrorMessage_.reset();
  if (allowed) return;
  // Refused, the page never starts, so no engine would ever report its end.
  HBRUserAgentUtil::releaseLock(&userAgentLockToken_);
  if (errorMessage) {
    plat::NSLogf("ERROR: The error page at '%s' was refused by the navigation policy.",
                 plat::logEscaped(page->absoluteString()).c_str());
    showStartPageError(*errorMessage, true);
    return;
  }
  showStartPageError(plat::format("ERROR: Start Page at '%s' was refused by the navigation policy (see "
                                  "allow-navigation in config.xml).",
                                  plat::logEscaped(page->absoluteString()).c_str()),
                     false);
}

plat::NSURLPtr HBRViewController::appUrl() {
  std::string page = startPage();
  std::string www = wwwFolderName();
  if (plat::contains(page, "://")) return plat::NSURL::URLWithString(page);
  if (plat::contains(www, "://")) return plat::NSURL::URLWithString(www + "/" + page);
  if (plat::endsWith(www, ".bundle") || plat::endsWith(www, ".framework")) {
    // A relative folder names one inside the application bundle, not one beside the process.
    std::string path = plat::isAbsolutePath(www)
                           ? www
                           : plat::stringByAppendingPathComponent(plat::NSBundle::mainBundle()->resourcePath(), www);
    plat::NSBundlePtr bundle = plat::NSBundle::bundleWithPath(path);
    auto file = bundle ? bundle->pathForResource(page, "") : std::nullopt;
    return file ? plat::NSURL::fileURLWithPath(*file) : nullptr;
  }
  // A start page that is no URL at all names no file either.
  plat::NSURLPtr pageURL = plat::NSURL::URLWithString(page);
  if (!pageURL || !commandDelegate_) return nullptr;
  auto file = commandDelegate_->pathForResource(pageURL->path());
  if (!file) return nullptr;
  plat::NSURLPtr fileURL = plat::NSURL::fileURLWithPath(*file);
  std::size_t suffix = page.find_first_of("?#");
  if (suffix == std::string::npos || !fileURL) return fileURL;
  plat::NSURLPtr withSuffix = plat::NSURL::URLWithStringRelativeToURL(page.substr(suffix), fileURL);
  return withSuffix ? withSuffix->absoluteURL() : nullptr;
}

plat::NSURLPtr HBRViewController::errorURL() {
  const plat::Value& setting = harborSettingForKey(settings_, "ErrorUrl");
  if (!setting.isString()) return nullptr;
  const std::string& text = setting.asString();
  if (plat::contains(text, "://")) return plat::NSURL::URLWithString(text);
  plat::NSURLPtr url = plat::NSURL::URLWithString(text);
  if (!url || !commandDelegate_) return nullptr;
  auto file = commandDelegate_->pathForResource(url->path());
  return file ? plat::NSURL::fileURLWithPath(*file) : nullptr;
}

// ---- Engine ----

plat::ObjectPtr HBRViewController::newHarborViewWithFrame(const plat::CGRect& frame) {
  const plat::Value& setting = harborSettingForKey(settings_, kHBRWebViewEngineSetting);
  std::string className = setting.isString() ? setting.asString() : std::string(kHBRDefaultWebViewEngine);

  plat::ObjectPtr object = plat::ClassRegistry::shared().create(className);
  auto engine = std::dynamic_pointer_cast<HBRWebViewEngineProtocol>(object);
  // Why the engine asked for cannot be used; nothing when it can.
  std::optional<std::string> refusal;
  std::string system = "system version " + plat::UIDevice::currentDevice()->systemVersion();
  if (!object)
    refusal = "there is no class of that name";
  else if (!engine)
    refusal = "it is not a web view engine";
  else if (!engine->initWithFrame(frame))
    refusal = "it cannot start on " + system;
  else if (!engine->canLoadRequest(plat::NSURLRequest::requestWithURL(appUrl())))
    refusal = "it cannot load the start page on " + system;
  // The registry's name for the engine: the one asked for, so that the stand-in answers where the
  // asked-for engine would have.
  std::string registeredName = className;
  if (refusal) {
    plat::NSLogf("The web view engine %s cannot be used (%s); %s stands in.", plat::logEscaped(className).c_str(),
                 refusal->c_str(), kHBRDefaultWebViewEngine);
    // Except where a plugin holds that name (the class is some other plugin, or config.xml maps a
    // service to it): under its name the engine would hide that plugin from every call.
    bool heldByAPlugin = (object && !engine) || namesAPluginClass(className);
    if (heldByAPlugin && className != kHBRDefaultWebViewEngine) {
      registeredName = kHBRDefaultWebViewEngine;
      plat::NSLogf("The stand-in web view engine is registered as %s, not as %s, which names a plugin.",
                   kHBRDefaultWebViewEngine, plat::logEscaped(className).c_str());
    }
    object = plat::ClassRegistry::shared().create(kHBRDefaultWebViewEngine);
    engine = std::dynamic_pointer_cast<HBRWebViewEngineProtocol>(object);
    if (engine) engine->initWithFrame(frame);
  }
  webViewEngine_ = engine;
  if (!engine) return nullptr;

  if (auto plugin = std::dynamic_pointer_cast<HBRPlugin>(object)) registerPluginWithClassName(plugin, registeredName);
  return engine->engineWebView();
}

bool HBRViewController::namesAPluginClass(const std::string& className) const {
  for (const auto& [service, mapped] : pluginsMap_)
    if (mapped.isString() && mapped.asString() == className) return true;
  return false;
}

void HBRViewController::createHarborView() {
  plat::UIViewPtr container = view();
  plat::ObjectPtr engineView = newHarborViewWithFrame(container->bounds());
  if (auto webView = std::dynamic_pointer_cast<plat::UIView>(engineView)) {
    webView->setAutoresizingMask(plat::UIViewAutoresizingFlexibleWidth | plat::UIViewAutoresizingFlexibleHeight);
    container->addSubview(webView);
    container->sendSubviewToBack(webView);
  }
}

plat::ObjectPtr HBRViewController::webView() const {
  return webViewEngine_ ? webViewEngine_->engineWebView() : nullptr;
}

// ---- User agent ----

std::string HBRViewController::userAgent() {
  if (userAgent_) return *userAgent_;
  std::string base;
  const plat::Value& overrideSetting = harborSettingForKey(settings_, "OverrideUserAgent");
  if (baseUserAgent_)
    base = *baseUserAgent_;
  else if (!overrideSetting.isNil())
    base = overrideSetting.stringOr(overrideSetting.description());
  else
    base = HBRUserAgentUtil::originalUserAgent();

  const plat::Value& append = harborSettingForKey(settings_, "AppendUserAgent");
  if (!append.isNil()) {
    userAgent_ = base + " " + append.stringOr(append.description());
  } else {
    // The controller's address tells concurrent containers' loads apart.
    userAgent_ = plat::format("%s (%lld)", base.c_str(), static_cast<long long>(reinterpret_cast<std::intptr_t>(this)));
  }
  return *userAgent_;
}

// ---- Plugin registry ----

plat::ObjectPtr HBRViewController::getCommandInstance(const std::string& pluginName) {
  const plat::Value& mapped = pluginsMap_.get(plat::toLowerASCII(pluginName));
  if (!mapped.isString()) return nullptr;
  const std::string& className = mapped.asString();
  if (auto it = pluginObjects_.find(className); it != pluginObjects_.end()) return it->second;

  // Only a plugin can be created for an engine; any other class counts as one that cannot be made.
  auto plugin = std::dynamic_pointer_cast<HBRPlugin>(plat::ClassRegistry::shared().create(className));
  if (!plugin) {
    plat::NSLogf("HBRPlugin class %s (pluginName: %s) does not exist.", className.c_str(), pluginName.c_str());
    return nullptr;
  }
  plugin->initWithWebViewEngine(webViewEngine_);
  registerPluginWithClassName(plugin, className);
  return plugin;
}

void HBRViewController::registerPluginWithClassName(const HBRPluginPtr& plugin, const std::string& className) {
  if (!plugin) return;
  plugin->setViewController(self<HBRViewController>());
  plugin->setCommandDelegate(commandDelegate_);
  pluginObjects_[className] = plugin;
  plugin->initializePlugin();
}

void HBRViewController::registerPluginWithPluginName(const HBRPluginPtr& plugin, const std::string& pluginName) {
  if (!plugin) return;
  std::string className = classNameOf(*plugin);
  plugin->setViewController(self<HBRViewController>());
  plugin->setCommandDelegate(commandDelegate_);
  pluginObjects_[className] = plugin;
  pluginsMap_.set(plat::toLowerASCII(pluginName), className);
  plugin->initializePlugin();
}

std::string HBRViewController::classNameOf(const plat::Object& object) {
  const char* mangled = typeid(object).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  // Template arguments may hold "::" too; the class's own name is the last part before them.
  std::size_t end = name.find('<');
  std::size_t colon = name.rfind("::", end == std::string::npos ? std::string::npos : end);
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

// ---- Lifecycle ----

void HBRViewController::fireDocumentEvent(const std::string& script, bool scheduledOnRunLoop) {
  auto engine = webViewEngine_;
  // No page on show yet (the launch's "active" comes before the start page): the empty
  // document an engine starts with has no bridge, and asking it would only make it.
  if (!engine || !engine->URL()) return;
  std::weak_ptr<HBRViewController> weak = weakSelf<HBRViewController>();
  engine->evaluateJavaScript(kHBRPageHasBridgeScript, [weak, script, scheduledOnRunLoop](
                                                          const plat::Value& answer, const std::optional<plat::NSError>&) {
    auto self = weak.lock();
    if (!self || answer.stringOr() != "true") return;
    self->commandDelegate_->evalJsScheduledOnRunLoop(script, scheduledOnRunLoop);
  });
}

void HBRViewController::onAppWillResignActive(const plat::NSNotification&) {
  fireDocumentEvent("harbor.fireDocumentEvent('resign');", false);
}

void HBRViewController::onAppDidEnterBackground(const plat::NSNotification&) {
  fireDocumentEvent("harbor.fireDocumentEvent('pause', null, true);", false);
}

void HBRViewController::onAppWillEnterForeground(const plat::NSNotification&) {
  fireDocumentEvent("harbor.fireDocumentEvent('resume');", true);
  auto pasteboard = plat::UIPasteboard::generalPasteboard();
  if (auto text = pasteboard->string()) pasteboard->setValueForPasteboardType(*text, plat::kUTTypeText);
}

void HBRViewController::onAppDidBecomeActive(const plat::NSNotification&) {
  fireDocumentEvent("harbor.fireDocumentEvent('active');", true);
}

void HBRViewController::onAppWillTerminate(const plat::NSNotification&) {
  plat::NSFileManager fileManager;
  removeContentsOfDirectory(fileManager, plat::NSTemporaryDirectory());
}

void HBRViewController::removeContentsOfDirectory(plat::NSFileManager& fileManager, const std::string& directory) {
  // The listing is taken whole before anything is removed: removing under a live walk would
  // pull entries from under it.
  auto paths = fileManager.subpathsOfDirectoryAtPath(directory);
  if (!paths) return;
  for (const std::string& relative : *paths) {
    std::string path = plat::stringByAppendingPathComponent(directory, relative);
    // Folders come before their contents, so most entries have gone with their folder already.
    if (!fileManager.attributesOfItemAtPath(path)) continue;
    plat::NSError error;
    if (!fileManager.removeItemAtPath(path, &error))
      plat::NSLogf("Failed to delete: %s (error: %s)", path.c_str(), error.description().c_str());
  }
}

// ---- Memory ----

void HBRViewController::didReceiveMemoryWarning() {
  bool pending = false;
  for (const auto& [className, plugin] : pluginObjects_) {
    if (plugin->hasPendingOperation()) {
      plat::NSLogf("Plugin '%s' has a pending operation, memory purge is delayed for didReceiveMemoryWarning.",
                   classNameOf(*plugin).c_str());
      pending = true;
    }
  }
  if (!pending) plat::UIViewController::didReceiveMemoryWarning();
}

void HBRViewController::viewDidUnload() {
  HBRUserAgentUtil::releaseLock(&userAgentLockToken_);
  plat::UIViewController::viewDidUnload();
}

// ---- Orientation ----

std::vector<long> HBRViewController::parseInterfaceOrientations(const plat::Value& orientations) {
  std::vector<long> result;
  if (orientations.isArray()) {
    for (const plat::Value& name : orientations.asArray()) {
      std::string text = name.stringOr();
      if (text == "UIInterfaceOrientationPortrait")
        result.push_back(plat::UIInterfaceOrientationPortrait);
      else if (text == "UIInterfaceOrientationPortraitUpsideDown")
        result.push_back(plat::UIInterfaceOrientationPortraitUpsideDown);
      else if (text == "UIInterfaceOrientationLandscapeLeft")
        result.push_back(plat::UIInterfaceOrientationLandscapeLeft);
      else if (text == "UIInterfaceOrientationLandscapeRight")
        result.push_back(plat::UIInterfaceOrientationLandscapeRight);
    }
  }
  if (result.empty()) result.push_back(plat::UIInterfaceOrientationPortrait);
  return result;
}

bool HBRViewController::supportsOrientation(plat::UIInterfaceOrientation orientation) const {
  for (long supported : supportedOrientations_)
    if (supported == orientation) return true;
  return false;
}

unsigned long HBRViewController::supportedInterfaceOrientations() {
  unsigned long mask = 0;
  for (long orientation : {plat::UIInterfaceOrientationPortrait, plat::UIInterfaceOrientationPortraitUpsideDown,
                           plat::UIInterfaceOrientationLandscapeRight, plat::UIInterfaceOrientationLandscapeLeft}) {
    if (supportsOrientation(static_cast<plat::UIInterfaceOrientation>(orientation))) mask |= 1UL << orientation;
  }
  return mask;
}

bool HBRViewController::shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation orientation) {
  return supportsOrientation(orientation);
}

bool HBRViewController::shouldAutorotate() {
  return shouldAutorotateHook_ ? shouldAutorotateHook_() : shouldAutorotateDefaultValue();
}

std::optional<std::string> HBRViewController::appURLScheme() {
  const plat::Value& types = plat::NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleURLTypes");
  const plat::Value& schemes = types.at(0)["CFBundleURLSchemes"];
  const plat::Value& scheme = schemes.at(0);
  if (!scheme.isString()) return std::nullopt;
  return scheme.asString();
}

}  // namespace harbor
