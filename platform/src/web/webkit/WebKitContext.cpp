#include "WebKitContext.h"

#include <gtk/gtk.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <mutex>
#include <optional>
#include <thread>

#include "../PageLanguages.h"
#include "../PageResources.h"
#include "GLibLoop.h"
#include "WebKitClipboard.h"
#include "WebKitSchemes.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLResponse.h"
#include "plat/uikit/UIApplication.h"
#include "plat/web/WebStorage.h"

namespace plat::web {

// page.js, compiled in as text.
extern const char pageScript[];

namespace {

struct Runtime {
  bool started = false;
  WebKitOptions options;
  std::string extensionFolder;
  std::string contextFolder;  // the storage folder of context
  std::optional<std::string> failure;
  WebKitWebContext* context = nullptr;
  std::vector<std::string> roots;
  std::set<WebKitWebView*> views;
};

Runtime& runtime() {
  static Runtime* r = new Runtime();
  return *r;
}

// WebKit's network process commits a page's web storage changes in batches, about half a second
// after they are made. Before the application resigns or terminates (when the storage backup
// copies the files) that long is given to WebKit, so the copy holds the page's last change; at
// termination the pages' processes are ended first, so no change comes after the copy.
constexpr double kStorageCommitSeconds = 0.6;

// What the container does not offer a page, and what would reach past the sandbox: shared and
// service workers (their loads pass no check of ours), downloads by a link's attribute (pages
// download with the File Transfer plugin), the web's notifications, badges and pickers (the
// plugins offer the device's), full screen for elements (the page fills the device's screen;
// WebKit would only make the page believe it went full screen), and capture of the screen
// (WebKit goes to the desktop's screen-cast portal before the view is asked; the page script
// answers getDisplayMedia with the refusal instead, see page.js).
constexpr const char* kFeaturesOff[] = {
    "SharedWorker", "ServiceWorkers",   "DownloadAttribute", "Notifications", "NotificationEvent", "PushAPI",
    "AppBadge",     "ContactPickerAPI", "WebShare",          "FileSystem",    "FullScreen",        "ScreenCapture",
};

// Downloads WebKit starts (a link to a file it cannot show, a context menu's item) would write
// into the user's folders: every one is cancelled before it has a destination, and logged.
void onDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
  WebKitURIRequest* request = webkit_download_get_request(download);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  NSLog("WebKit: cancelled a download the page started (" + logPageText(uri ? uri : "") +
        "): pages download with the File Transfer plugin");
  // Should WebKit still ask where to put it, it gets no place.
  g_signal_connect(download, "decide-destination", G_CALLBACK(+[](WebKitDownload* d, gchar*, gpointer) -> gboolean {
                     webkit_download_cancel(d);
                     return TRUE;
                   }),
                   nullptr);
  webkit_download_cancel(download);
}

// The folder of the extension that confines pages' file reads (platform/webkit-extension):
// beside the executable, or in the build tree.
std::optional<std::string> extensionFolder() {
  std::vector<std::string> candidates;
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) candidates.push_back(stringByAppendingPathComponent(stringByDeletingLastPathComponent(std::string(exe, static_cast<std::size_t>(n))),
                                                                 "harbor-webkit-extension"));
#ifdef HARBOR_WEBKIT_EXTENSION_DIR
  candidates.push_back(HARBOR_WEBKIT_EXTENSION_DIR);
#endif
  for (const std::string& folder : candidates)
    if (::access(stringByAppendingPathComponent(folder, "harbor_webkit_extension.so").c_str(), R_OK) == 0) return folder;
  return std::nullopt;
}

// Each content process (and the network process) is ended by WebKit once it uses more than the
// limit, checked every half second; the page's view hears it as "exceeded its memory limit".
WebKitMemoryPressureSettings* memorySettings() {
  WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(settings, static_cast<guint>(runtime().options.contentProcessMemoryLimitMB));
  webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
  webkit_memory_pressure_settings_set_poll_interval(settings, 0.5);
  return settings;
}

// The watch of the content processes' memory (see WebKitContext.h): every 100 ms, each watched
// process's resident size against the limit. Only children of ours are watched, so a reused
// process number is never taken for a content process.
class MemoryWatch {
 public:
  static MemoryWatch& shared() {
    static MemoryWatch* watch = new MemoryWatch();
    return *watch;
  }

  void watch(int pid, std::size_t limitBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    limitBytes_ = limitBytes;
    watched_.insert(pid);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }

  bool endedForMemory(int pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_.erase(pid);
    return ended_.erase(pid) > 0;
  }

 private:
  static std::optional<std::size_t> residentBytesOfChild(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    int parent = 0;
    rest >> state >> parent;
    if (parent != ::getpid() || state == 'Z') return std::nullopt;
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    std::size_t size = 0, resident = 0;
    if (!(statm >> size >> resident)) return std::nullopt;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  }

  void run() {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::vector<int> pids;
      std::size_t limit = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        pids.assign(watched_.begin(), watched_.end());
        limit = limitBytes_;
      }
      for (int pid : pids) {
        auto resident = residentBytesOfChild(pid);
        if (!resident) {
          std::lock_guard<std::mutex> lock(mutex_);
          if (!ended_.count(pid)) watched_.erase(pid);
          continue;
        }
        if (*resident <= limit) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_.insert(pid).second) ::kill(pid, SIGKILL);
      }
    }
  }

  std::mutex mutex_;
  std::set<int> watched_;
  std::set<int> ended_;
  std::size_t limitBytes_ = 0;
  std::thread thread_;
};

// The pages' languages are the device's (navigator.language, and the locale Intl formats with).
void setPreferredLanguages(WebKitWebContext* context) {
  std::vector<std::string> tags = pageLanguages();
  std::vector<const char*> texts;
  for (const auto& tag : tags) texts.push_back(tag.c_str());
  texts.push_back(nullptr);
  webkit_web_context_set_preferred_languages(context, texts.data());
}

}  // namespace

void watchContentProcess(int pid) {
  if (pid <= 0) return;
  MemoryWatch::shared().watch(pid, runtime().options.contentProcessMemoryLimitMB * 1024 * 1024);
}

bool contentProcessEndedForMemory(int pid) { return pid > 0 && MemoryWatch::shared().endedForMemory(pid); }

namespace {

// Sends the signal to a child of ours only: the number came from the page's own process.
bool signalContentProcess(int pid, int signal) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (pid <= 0 || !std::getline(stat, line)) return false;
  std::size_t close = line.rfind(')');
  int parent = 0;
  if (close == std::string::npos || std::sscanf(line.c_str() + close + 1, " %*c %d", &parent) != 1) return false;
  return parent == ::getpid() && ::kill(pid, signal) == 0;
}

}  // namespace

bool endContentProcess(int pid) { return signalContentProcess(pid, SIGKILL); }

bool holdContentProcess(int pid, bool hold) { return signalContentProcess(pid, hold ? SIGSTOP : SIGCONT); }

bool webKitStarted() { return runtime().started; }

const std::vector<std::string>& readableRoots() { return runtime().roots; }

void updateReadableRoots() {
  Runtime& r = runtime();
  r.roots.clear();
  for (std::string root : {NSHomeDirectory(), NSBundle::mainBundle()->bundlePath()}) {
    if (root.empty()) continue;
    char buffer[PATH_MAX];
    r.roots.push_back(::realpath(root.c_str(), buffer) ? std::string(buffer) : root);
  }
  if (!r.context) return;
  std::vector<const char*> texts;
  for (const auto& root : r.roots) texts.push_back(root.c_str());
  GVariantBuilder data;
  g_variant_builder_init(&data, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&data, "{sv}", "roots", g_variant_new_strv(texts.data(), static_cast<gssize>(texts.size())));
  g_variant_builder_add(&data, "{sv}", "page-script", g_variant_new_string(pageScript));
  webkit_web_context_set_web_extensions_initialization_user_data(r.context, g_variant_builder_end(&data));
}

WebKitWebContext* sharedWebContext() {
  Runtime& r = runtime();
  std::string data = localStorageFolder();
  if (r.context && r.contextFolder == data) return r.context;
  if (r.context) g_object_unref(r.context);
  r.contextFolder = data;
  auto library = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
  std::string cache = stringByAppendingPathComponent(library.empty() ? NSHomeDirectory() + "/Library/Caches" : library.front(), "WebKit");
  WebKitWebsiteDataManager* manager = webkit_website_data_manager_new("base-data-directory", data.c_str(),
                                                                      "base-cache-directory", cache.c_str(), nullptr);
  WebKitMemoryPressureSettings* memory = memorySettings();
  r.context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager,
                                              "memory-pressure-settings", memory, nullptr));
  webkit_memory_pressure_settings_free(memory);
  webkit_web_context_set_web_extensions_directory(r.context, r.extensionFolder.c_str());
  updateReadableRoots();
  webkit_web_context_set_cache_model(r.context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  setPreferredLanguages(r.context);
  // The pages' cookies live with their other website data (and the storage backup copies their
  // folder as it copies the others), so a signed-in page stays signed in from launch to launch.
  std::string cookieFolder = stringByAppendingPathComponent(data, "cookies");
  std::string cookies = stringByAppendingPathComponent(cookieFolder, "cookies.sqlite");
  NSFileManager::defaultManager().createDirectoryAtPath(cookieFolder, true);
  webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager), cookies.c_str(),
                                               WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  g_signal_connect(r.context, "download-started", G_CALLBACK(onDownloadStarted), nullptr);
  g_object_unref(manager);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(r.context);
  for (const char* scheme : {"hbrfile", "assets-library"}) {
    webkit_web_context_register_uri_scheme(r.context, scheme, serveApplicationScheme, nullptr, nullptr);
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme);
  }
  return r.context;
}

void applyContainerFeatures(WebKitSettings* settings) {
  static WebKitFeatureList* all = webkit_settings_get_all_features();
  gsize count = webkit_feature_list_get_length(all);
  for (gsize i = 0; i < count; ++i) {
    WebKitFeature* feature = webkit_feature_list_get(all, i);
    const char* id = webkit_feature_get_identifier(feature);
    for (const char* off : kFeaturesOff)
      if (g_strcmp0(id, off) == 0) webkit_settings_set_feature_enabled(settings, feature, FALSE);
  }
}

std::set<WebKitWebView*>& liveWebViews() { return runtime().views; }

bool turnMainLoopUntil(const std::function<bool()>& done, double seconds) {
  double deadline = monotonicSeconds() + seconds;
  if (!runtime().started) {
    while (!done()) {
      if (monotonicSeconds() >= deadline) return false;
      if (RunLoop::main().runOneTurn() == 0) RunLoop::main().waitForPost(0.01);
    }
    return true;
  }
  while (!done()) {
    if (monotonicSeconds() >= deadline) return false;
    bool ran = RunLoop::main().runOneTurn() > 0;
    dispatchGLib(ran ? 0 : 0.01);
  }
  return true;
}

Result<bool> startWebKit(const WebKitOptions& options) {
  Runtime& r = runtime();
  if (r.started) return true;
  if (r.failure) return Failure{*r.failure};
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) {
    r.failure = "no display to show pages on (DISPLAY and WAYLAND_DISPLAY are unset)";
    return Failure{*r.failure};
  }
  auto extension = extensionFolder();
  if (!extension) {
    r.failure = "the WebKit extension that keeps pages inside the sandbox (harbor-webkit-extension/harbor_webkit_extension.so) is missing";
    return Failure{*r.failure};
  }
  r.extensionFolder = *extension;
  if (!gtk_init_check(nullptr, nullptr)) {
    std::string which = wayland && *wayland ? std::string("WAYLAND_DISPLAY=") + wayland : std::string("DISPLAY=") + display;
    r.failure = "GTK cannot open the display (" + which + ")";
    return Failure{*r.failure};
  }
  r.started = true;
  r.options = options;
  // The network process (it reads the pages' files and keeps their storage) gets the limit too.
  WebKitMemoryPressureSettings* memory = memorySettings();
  webkit_website_data_manager_set_memory_pressure_settings(memory);
  webkit_memory_pressure_settings_free(memory);
  // WebKit first: a JavaScriptCore context of the headless kind made before WebKit has set up
  // its main thread leaves WebKit's views without answers from their processes. A context that
  // keeps nothing on disk sets it up; the pages' own is made with the first page, once the
  // application's storage folder is settled (the storage repair sets the backup default).
  static WebKitWebContext* starter = [] {
    WebKitWebsiteDataManager* ephemeral = webkit_website_data_manager_new_ephemeral();
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(ephemeral);
    g_object_unref(ephemeral);
    // The first view sets up what WebKit keeps for every view of the process; made here, so it
    // is part of starting WebKit (no page, no process).
    GtkWidget* first = webkit_web_view_new_with_context(context);
    g_object_ref_sink(first);
    g_object_unref(first);
    return context;
  }();
  (void)starter;
  RunLoop::main().setExternalSource(RunLoop::ExternalSource{dispatchGLib, wakeGLib});
  // The device has one pasteboard: the pages' clipboard and the plugins' are one, and the
  // desktop's is neither.
  useContainerClipboard();
  // Registered before the application exists, so this runs before its own observers.
  static auto observer = std::make_shared<int>(0);
  for (const char* name : {UIApplicationWillResignActiveNotification, UIApplicationWillTerminateNotification}) {
    bool terminating = std::string(name) == UIApplicationWillTerminateNotification;
    NSNotificationCenter::defaultCenter().addObserver(observer, name, nullptr, [terminating](const NSNotification&) {
      auto& views = runtime().views;
      if (views.empty()) return;
      if (terminating)
        for (WebKitWebView* view : views) webkit_web_view_terminate_web_process(view);
      double until = monotonicSeconds() + kStorageCommitSeconds;
      while (monotonicSeconds() < until) dispatchGLib(until - monotonicSeconds());
    });
  }
  return true;
}

}  // namespace plat::web
