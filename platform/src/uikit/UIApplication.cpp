#include "plat/uikit/UIApplication.h"

#include <chrono>

#include "plat/dispatch/Queues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIViewController.h"
#include "plat/uikit/UIWindow.h"
#include "plat/web/JSContext.h"
#include "LocalNotificationStore.h"

namespace plat {
namespace {

// How long the application's background tasks may run on after termination.
constexpr double kTerminationGraceSeconds = 5.0;

std::mutex& appMutex() {
  static std::mutex m;
  return m;
}
UIApplicationPtr& shared() {
  static UIApplicationPtr* app = new UIApplicationPtr(std::make_shared<UIApplication>());
  return *app;
}
}  // namespace

UIApplicationPtr UIApplication::sharedApplication() {
  std::lock_guard<std::mutex> lock(appMutex());
  return shared();
}

void UIApplication::resetSharedApplication() { setSharedApplication(std::make_shared<UIApplication>()); }

void UIApplication::setSharedApplication(UIApplicationPtr application) {
  UIApplicationPtr previous;  // released outside the lock: its delegate's teardown may ask for the application
  std::lock_guard<std::mutex> lock(appMutex());
  previous = std::move(shared());
  shared() = std::move(application);
}

// ---- Opening URLs ----

UIApplication::URLRequestRecord UIApplication::record(URLRequestRecord::Kind kind, const NSURLPtr& url, bool answer) {
  URLRequestRecord entry{kind, url, answer};
  std::function<void(const URLRequestRecord&)> observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    urlRequests_.push_back(entry);
    observer = urlObserver_;
  }
  if (observer) observer(entry);
  return entry;
}

bool UIApplication::canOpenURL(const NSURLPtr& url) {
  bool answer = false;
  if (url && url->scheme()) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = openableSchemes_.count(toLowerASCII(*url->scheme())) != 0;
  }
  return record(URLRequestRecord::Kind::CanOpen, url, answer).answer;
}

bool UIApplication::openURL(const NSURLPtr& url) {
  bool answer = false;
  if (url && url->scheme()) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = openableSchemes_.count(toLowerASCII(*url->scheme())) != 0;
  }
  return record(URLRequestRecord::Kind::Open, url, answer).answer;
}

void UIApplication::setOpenableSchemes(std::set<std::string> schemes) {
  std::set<std::string> lowered;
  for (const auto& s : schemes) lowered.insert(toLowerASCII(s));
  std::lock_guard<std::mutex> lock(mutex_);
  openableSchemes_ = std::move(lowered);
}

std::vector<UIApplication::URLRequestRecord> UIApplication::urlRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return urlRequests_;
}

void UIApplication::setURLRequestObserver(std::function<void(const URLRequestRecord&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  urlObserver_ = std::move(observer);
}

// ---- Lifecycle driver ----

bool UIApplication::launchWithDelegate(std::shared_ptr<UIApplicationDelegate> delegate, const Dictionary& launchOptions) {
  delegate_ = std::move(delegate);
  state_ = UIApplicationStateInactive;
  auto app = self<UIApplication>();
  // Held for the call: a delegate that replaces itself must not vanish while it runs.
  auto current = delegate_;
  bool launched = current ? current->applicationDidFinishLaunchingWithOptions(app, launchOptions) : true;
  NSNotificationCenter::defaultCenter().post(UIApplicationDidFinishLaunchingNotification, app,
                                             launchOptions.empty() ? Value() : Value(launchOptions));
  becomeActive();
  return launched;
}

void UIApplication::resignActive() {
  state_ = UIApplicationStateInactive;
  auto app = self<UIApplication>();
  if (auto current = delegate_) current->applicationWillResignActive(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationWillResignActiveNotification, app);
}

void UIApplication::enterBackground() {
  state_ = UIApplicationStateBackground;
  auto app = self<UIApplication>();
  if (auto current = delegate_) current->applicationDidEnterBackground(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationDidEnterBackgroundNotification, app);
}

void UIApplication::enterForeground() {
  auto app = self<UIApplication>();
  if (auto current = delegate_) current->applicationWillEnterForeground(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationWillEnterForegroundNotification, app);
  state_ = UIApplicationStateInactive;
}

void UIApplication::becomeActive() {
  state_ = UIApplicationStateActive;
  auto app = self<UIApplication>();
  if (auto current = delegate_) current->applicationDidBecomeActive(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationDidBecomeActiveNotification, app);
}

void UIApplication::terminate() {
  if (terminated_) return;
  terminated_ = true;
  // From here on the page's script and timers stop: termination turns the run loop until it is
  // idle, and a page that keeps itself busy must not hold the process open.
  JSContext::stopAllScripts();
  auto app = self<UIApplication>();
  if (auto current = delegate_) current->applicationWillTerminate(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationWillTerminateNotification, app);
  if (runningMain_) RunLoop::main().stop();
}

std::shared_ptr<UIViewController> UIApplication::topViewController() const {
  auto window = delegate_ ? delegate_->window() : nullptr;
  auto top = window ? window->rootViewController() : nullptr;
  while (top) {
    auto presented = top->presentedViewController();
    if (!presented || presented->isBeingDismissed()) break;
    top = presented;
  }
  return top;
}

void UIApplication::receiveMemoryWarning() {
  auto app = self<UIApplication>();
  auto current = delegate_;
  if (current) current->applicationDidReceiveMemoryWarning(app);
  NSNotificationCenter::defaultCenter().post(UIApplicationDidReceiveMemoryWarningNotification, app);
  auto window = current ? current->window() : nullptr;
  for (auto controller = window ? window->rootViewController() : nullptr; controller;
       controller = controller->presentedViewController())
    controller->didReceiveMemoryWarning();
}

bool UIApplication::deliverOpenURL(const NSURLPtr& url, const std::optional<std::string>& sourceApplication,
                                   const Value& annotation) {
  auto current = delegate_;
  if (!current) return false;
  return current->applicationOpenURLSourceApplicationAnnotation(self<UIApplication>(), url, sourceApplication,
                                                                annotation);
}

// ---- Local notifications ----

namespace {
// Where the system keeps an application's notifications: beside its preferences, in the home.
std::string localNotificationsPath() {
  std::string home = NSHomeDirectory();
  return home.empty() ? std::string() : stringByAppendingPathComponent(home, "Library/LocalNotifications.json");
}
}  // namespace

LocalNotificationStore& UIApplication::localNotificationStore() {
  std::vector<UILocalNotificationPtr> fired;
  std::function<void(const LocalNotificationEvent&)> observer;
  LocalNotificationStore* store = nullptr;
  bool loaded = false;
  {
    std::lock_guard<std::mutex> lock(notificationsMutex_);
    if (!notifications_) {
      notifications_ = std::make_shared<LocalNotificationStore>(localNotificationsPath(), now(), fired);
      loaded = true;
      observer = notificationObserver_;
      if (!observer) firedWhileStopped_ = fired;
    }
    store = notifications_.get();
  }
  if (loaded) {
    if (observer)
      for (const auto& n : fired) observer(LocalNotificationEvent{LocalNotificationEvent::Kind::FiredWhileStopped, n});
    armLocalNotificationTimer();
  }
  return *store;
}

void UIApplication::armLocalNotificationTimer() {
  LocalNotificationStore& store = localNotificationStore();
  // The date is read under the lock, so that of two threads re-arming at once the later one
  // always sees the other's change.
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  std::optional<double> next = store.nextDate();
  if (notificationTimer_) RunLoop::main().cancelTimer(notificationTimer_);
  notificationTimer_ = 0;
  if (!next) return;
  std::weak_ptr<UIApplication> weak = self<UIApplication>();
  notificationTimer_ = RunLoop::main().scheduleTimer(std::max(0.0, *next - now()), [weak] {
    if (auto app = weak.lock()) app->deliverDueLocalNotifications();
  });
}

void UIApplication::reportLocalNotificationEvent(const LocalNotificationEvent& event) {
  std::function<void(const LocalNotificationEvent&)> observer;
  {
    std::lock_guard<std::mutex> lock(notificationsMutex_);
    observer = notificationObserver_;
  }
  if (observer) observer(event);
}

void UIApplication::setLocalNotificationObserver(std::function<void(const LocalNotificationEvent&)> observer) {
  std::vector<UILocalNotificationPtr> fired;
  {
    std::lock_guard<std::mutex> lock(notificationsMutex_);
    notificationObserver_ = observer;
    if (observer) fired.swap(firedWhileStopped_);
  }
  for (const auto& n : fired) observer(LocalNotificationEvent{LocalNotificationEvent::Kind::FiredWhileStopped, n});
  // Reading the store now reports what fell due while nothing ran.
  localNotificationStore();
}

bool UIApplication::scheduleLocalNotification(const UILocalNotificationPtr& notification, NSError* error) {
  if (!notification) return false;
  std::string why;
  if (!localNotificationStore().schedule(*notification, now(), &why)) {
    if (error) *error = NSError{"UIApplication", 1, why, Value()};
    return false;
  }
  armLocalNotificationTimer();
  return true;
}

void UIApplication::cancelLocalNotification(const UILocalNotificationPtr& notification) {
  if (!notification) return;
  localNotificationStore().cancel(*notification);
  armLocalNotificationTimer();
}

void UIApplication::cancelAllLocalNotifications() {
  localNotificationStore().cancelAll();
  armLocalNotificationTimer();
}

void UIApplication::changeLocalNotificationsTogether(const std::function<void()>& changes) {
  LocalNotificationStore& store = localNotificationStore();
  store.beginChanges();
  changes();
  store.endChanges();
}

std::vector<UILocalNotificationPtr> UIApplication::scheduledLocalNotifications() {
  return localNotificationStore().list();
}

UILocalNotificationPtr UIApplication::firstScheduledLocalNotification(
    const std::function<bool(const UILocalNotification&)>& matches) {
  return localNotificationStore().first(matches);
}

std::int64_t UIApplication::applicationIconBadgeNumber() { return localNotificationStore().badge(); }

void UIApplication::setApplicationIconBadgeNumber(std::int64_t number) { localNotificationStore().setBadge(number); }

bool UIApplication::respondsToRegisterUserNotificationSettings() const {
  return compareVersions(UIDevice::currentDevice()->systemVersion(), "8.0") >= 0;
}

UIUserNotificationSettingsPtr UIApplication::currentUserNotificationSettings() {
  return UIUserNotificationSettings::settingsForTypes(localNotificationStore().allowedTypes());
}

void UIApplication::setUserNotificationAnswer(unsigned long allowedTypes) {
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  userNotificationAnswer_ = allowedTypes;
}

void UIApplication::registerUserNotificationSettings(const UIUserNotificationSettingsPtr& settings) {
  unsigned long requested = settings ? settings->types() : UIUserNotificationTypeNone;
  std::weak_ptr<UIApplication> weak = self<UIApplication>();
  // The user is asked once; the answer reaches the delegate on the main thread either way.
  RunLoop::main().post([weak, requested] {
    auto app = weak.lock();
    if (!app) return;
    LocalNotificationStore& store = app->localNotificationStore();
    if (!store.asked()) {
      unsigned long answer;
      {
        std::lock_guard<std::mutex> lock(app->notificationsMutex_);
        answer = app->userNotificationAnswer_;
      }
      store.setAnswer(requested & answer);
    }
    auto current = app->currentUserNotificationSettings();
    app->reportLocalNotificationEvent(
        LocalNotificationEvent{LocalNotificationEvent::Kind::PermissionAnswered, nullptr, requested, current->types()});
    if (auto delegate = app->delegate_) delegate->applicationDidRegisterUserNotificationSettings(app, current);
  });
}

void UIApplication::deliverDueLocalNotifications() {
  auto due = localNotificationStore().takeDue(now());
  armLocalNotificationTimer();
  auto app = self<UIApplication>();
  for (const auto& n : due) {
    reportLocalNotificationEvent(LocalNotificationEvent{LocalNotificationEvent::Kind::Fired, n});
    // Outside the foreground the notification waits for the user in the notification centre.
    if (state_.load() != UIApplicationStateActive) continue;
    if (auto delegate = delegate_) delegate->applicationDidReceiveLocalNotification(app, n);
  }
}

void UIApplication::openLocalNotification(const UILocalNotificationPtr& notification) {
  if (!notification) return;
  reportLocalNotificationEvent(LocalNotificationEvent{LocalNotificationEvent::Kind::Opened, notification});
  if (state_.load() == UIApplicationStateBackground) enterForeground();
  auto app = self<UIApplication>();
  if (auto delegate = delegate_) delegate->applicationDidReceiveLocalNotification(app, notification->copy());
  if (state_.load() != UIApplicationStateActive) becomeActive();
}

UILocalNotificationPtr UIApplication::lastDeliveredLocalNotification() { return localNotificationStore().lastDelivered(); }

// ---- Background tasks ----

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  UIBackgroundTaskIdentifier id = nextIdentifier_++;
  tasks_.emplace(id, std::move(handler));
  return id;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
  std::function<void()> handler;  // destroyed outside the lock: it may hold the caller's state
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = tasks_.find(identifier);
  if (it == tasks_.end()) return;
  handler = std::move(it->second);
  tasks_.erase(it);
}

std::size_t UIApplication::backgroundTaskCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasks_.size();
}

std::size_t UIApplication::expireBackgroundTasks() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, handler] : tasks_) handlers.push_back(handler);
  }
  for (auto& handler : handlers)
    if (handler) handler();
  return handlers.size();
}

// ---- Entry ----

std::size_t UIApplication::finishBackgroundTasks(double graceSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
  RunLoop& loop = RunLoop::main();
  while (backgroundTaskCount() > 0 && std::chrono::steady_clock::now() < deadline) {
    if (loop.runOneTurn() == 0) loop.waitForPost(0.05);
  }
  std::size_t expired = backgroundTaskCount() > 0 ? expireBackgroundTasks() : 0;
  // What the expiry handlers posted, within a bound of its own.
  deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
  while (loop.hasReadyWork() && std::chrono::steady_clock::now() < deadline) loop.runOneTurn();
  return expired;
}

int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName) {
  (void)argc;
  (void)argv;
  UIApplicationPtr application;
  if (principalClassName) {
    application = std::dynamic_pointer_cast<UIApplication>(ClassRegistry::shared().create(*principalClassName));
    if (!application) {
      NSLog("UIApplicationMain: no application class named " + *principalClassName);
      return 1;
    }
    UIApplication::setSharedApplication(application);
  } else {
    application = UIApplication::sharedApplication();
  }

  std::shared_ptr<UIApplicationDelegate> delegate;
  if (delegateClassName) {
    delegate = std::dynamic_pointer_cast<UIApplicationDelegate>(ClassRegistry::shared().create(*delegateClassName));
    if (!delegate) {
      NSLog("UIApplicationMain: no application delegate class named " + *delegateClassName);
      return 1;
    }
    delegate->init();
  }

  RunLoop::main().bindToCurrentThread();
  // The global queue's workers are made now, while memory is plentiful: termination hands work
  // to them (the web storage backup), and a page that used up the memory must not leave it
  // unable to.
  dispatch::GlobalQueue::shared();
  application->runningMain_ = true;
  application->launchWithDelegate(std::move(delegate), application->launchOptions_);
  if (!application->terminated_) RunLoop::main().run();
  // Work begun in the background at termination finishes before the process ends, as the
  // system grants it, so that no file is left half-written.
  application->finishBackgroundTasks(kTerminationGraceSeconds);
  // So does work already handed to the global queue (a page's notification being stored, say):
  // it must not outlive the application's objects, or run on into the process's exit.
  dispatch::GlobalQueue::shared().waitIdle(kTerminationGraceSeconds);
  application->runningMain_ = false;
  application->setDelegate(nullptr);
  return 0;
}

}  // namespace plat
