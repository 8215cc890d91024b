// Harbor's bridge on WebKit against plain WebKitGTK, in the same run.
//   plain      a WebKitGTK view whose page posts a script message, which the host answers by
//              evaluating the page's callback, which posts the next: the floor for one round trip
//              through WebKit's processes; again with each answer naming its call (a callback
//              text of its own each time, as the bridge's answers have), and with the page also
//              posting each call as the bridge must, an array [callbackId, service, action,
//              [arguments]] (WebKit copies an array at several times the cost of a short
//              string), for the record;
//   single     Harbor's WKWebView engine on WebKit: a page calls the echo plugin, and makes each
//              call from the answer of the one before (chains of 100);
//   burst      the same page sends 100 calls at once, batched as the bridge batches them, and
//              waits for all answers; time per call;
//   UIWebView  the single chain under the UIWebView engine (frame navigations), for the record;
//   start-up   the harbor runner launched on the sample until its page says "deviceready",
//              against a bare WebKitGTK launch of a page with one script (bare_webkit_launch),
//              launched in turns, medians.
// Without a display, the benchmark runs on a private Xvfb display of its own (as the runner does),
// started once for all of it. The last line:
//   webkit: single <R1> of a plain WebKitGTK round trip, burst <R2>x single, deviceready <R3>x a bare WebKitGTK page
// R1 = plain round-trip time / Harbor's single round-trip time, R2 = Harbor's single round-trip
// time / its time per call in a burst, R3 = the runner's start-up / the bare launch's.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "HBRContainerClasses.h"
#include "HBRPlugin.h"
#include "HBRViewController.h"
#include "VirtualDisplay.h"
#include "bench_support.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/ClassRegistry.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/uikit/UIScreen.h"
#include "plat/web/WebPage.h"
#include "support/EchoPlugin.h"
#include "support/FakeWebViewEngine.h"

namespace {

using harbor::HBRViewController;
using harbor::bench::kBurst;
using harbor::testing::EchoPlugin;

constexpr int kChain = 100;    // round trips per measured round
const int kLaunches = harbor::bench::fullOrBrief(10, 2);  // start-up launches of each kind
constexpr int kLaunchTimeoutMs = 30000;

std::string scratch;  // this run's folder: the sandbox, the pages, the runner's home

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

// ---- plain WebKitGTK ----

// The host answers every "echo" message by evaluating the callback; "done" ends a round.
constexpr char kPlainPage[] = R"HTML(<!DOCTYPE html><script>
var left = 0, entries = false, sent = 0;
function send() {
  window.webkit.messageHandlers.echo.postMessage(entries ? ['Echo' + ++sent, 'Echo', 'echo', ['payload']] : 'payload');
}
function callback(message) {
  if (--left > 0) send();
  else window.webkit.messageHandlers.done.postMessage('');
}
function chain(n, asEntries) { left = n; entries = asEntries; send(); }
window.webkit.messageHandlers.done.postMessage('loaded');
</script>)HTML";

struct PlainPage {
  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
  int done = 0;
  // Each answer names its call, as every bridge answer must: a text of its own each time, which
  // JavaScriptCore compiles anew instead of finding it in its cache of compiled scripts.
  bool namedAnswers = false;
  unsigned answers = 0;

  static void onEcho(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer data) {
    auto* page = static_cast<PlainPage*>(data);
    std::string script = "callback(\"payload\")";
    if (page->namedAnswers) script = "callback(\"payload\", 'Echo" + std::to_string(++page->answers) + "')";
    webkit_web_view_evaluate_javascript(page->view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  static void onDone(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer data) {
    static_cast<PlainPage*>(data)->done++;
  }

  bool load() {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect(content, "script-message-received::echo", G_CALLBACK(onEcho), this);
    g_signal_connect(content, "script-message-received::done", G_CALLBACK(onDone), this);
    webkit_user_content_manager_register_script_message_handler(content, "echo");
    webkit_user_content_manager_register_script_message_handler(content, "done");
    view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    g_object_unref(content);
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 375, 667);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);
    std::string base = "file://" + scratch + "/plain.html";
    webkit_web_view_load_html(view, kPlainPage, base.c_str());
    return waitForDone(1);
  }
  bool waitForDone(int expected) {
    for (int turns = 0; done < expected; ++turns) {
      if (turns > 10000000) return false;
      g_main_context_iteration(nullptr, TRUE);
    }
    return true;
  }
  ~PlainPage() {
    if (window) gtk_widget_destroy(window);
  }
};

void plainRoundTrips(benchmark::State& state, bool namedAnswers, bool entries = false) {
  PlainPage page;
  page.namedAnswers = namedAnswers;
  if (!page.load()) {
    state.SkipWithError("the plain page did not load");
    return;
  }
  std::string chain = "chain(" + std::to_string(kChain) + (entries ? ", true)" : ", false)");
  for (auto _ : state) {
    int expected = page.done + 1;
    webkit_web_view_evaluate_javascript(page.view, chain.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!page.waitForDone(expected)) {
      state.SkipWithError("a round was not answered");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()) * kChain, benchmark::Counter::kIsRate);
}

void BM_PlainRoundTrip(benchmark::State& state) { plainRoundTrips(state, false); }
void BM_PlainNamedRoundTrip(benchmark::State& state) { plainRoundTrips(state, true); }
void BM_PlainEntryRoundTrip(benchmark::State& state) { plainRoundTrips(state, true, true); }

// ---- Harbor on WebKit ----

// Counts the page's "finished" calls: the end of each measured round.
class FinishLine : public harbor::HBRPlugin {
 public:
  static inline std::atomic<int> finished{0};
  void pluginInitialize() override {
    registerAction("finished", [](const harbor::HBRInvokedUrlCommandPtr&) { finished++; });
  }
};

constexpr char kHarborPage[] = R"JS(
var ready = false;
document.addEventListener('deviceready', function () { ready = true; });
function failed(message) { throw new Error('echo failed: ' + message); }
function finish() { harbor.exec(function () {}, failed, 'Finish', 'finished', []); }
function chain(n) {
  var left = n;
  function next() {
    if (left-- > 0) harbor.exec(next, failed, 'Echo', 'echo', ['payload']);
    else finish();
  }
  next();
}
function burst(n) {
  var got = 0;
  function answered() { if (++got === n) finish(); }
  for (var i = 0; i < n; i++) harbor.exec(answered, failed, 'Echo', 'echo', ['payload']);
}
)JS";

// Turns the platform's main loop and GLib's main context together (as the runner's run loop
// does) until done(), at most 30 s: WebKit's answers arrive through GLib, the bridge's through
// the platform's loop, whose posts wake GLib.
bool pumpWebKit(const std::function<bool()>& done) {
  plat::RunLoop& loop = plat::RunLoop::main();
  gint64 deadline = g_get_monotonic_time() + 30 * G_USEC_PER_SEC;
  for (;;) {
    loop.runUntilIdle();
    if (done()) return true;
    if (g_get_monotonic_time() > deadline) return false;
    if (g_main_context_iteration(nullptr, FALSE) || loop.hasReadyWork()) continue;
    GSource* timeout = g_timeout_source_new(100);
    g_source_set_callback(timeout, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timeout, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
  }
}

bool makeSandbox() {
  std::string bundle = scratch + "/Harbor.app";
  auto& files = plat::NSFileManager::defaultManager();
  if (!files.createDirectoryAtPath(bundle + "/www", true)) return false;
  plat::setHomeDirectory(scratch + "/home");
  plat::createSandboxFolders(scratch + "/home");
  bool ok = writeFile(bundle + "/Info.plist",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                      "<key>CFBundleIdentifier</key><string>org.harbor.bench</string></dict></plist>") &&
            writeFile(bundle + "/config.xml",
                      "<widget><feature name=\"Echo\"><param name=\"ios-package\" value=\"EchoPlugin\"/></feature>"
                      "<feature name=\"Finish\"><param name=\"ios-package\" value=\"FinishLine\"/></feature></widget>") &&
            writeFile(bundle + "/www/harbor.js", readFile(harbor::testing::harborScriptPath())) &&
            writeFile(bundle + "/www/index.html",
                      std::string("<!DOCTYPE html><script src=\"harbor.js\"></script><script>") + kHarborPage + "</script>") &&
            writeFile(scratch + "/bare.html",
                      "<!DOCTYPE html><script>window.webkit.messageHandlers.ready.postMessage('');</script>");
  plat::NSBundle::setMainBundlePath(bundle);
  return ok;
}

// A container with the named engine on its loaded start page.
struct Container {
  std::shared_ptr<HBRViewController> controller;
  plat::web::WebPage* page = nullptr;

  bool start(const std::string& engine) {
    page = harbor::bench::startEchoContainer(controller, engine);
    if (!page) return false;
    // Loaded once the page's functions exist and the bridge is ready.
    return pumpWebKit([&] {
      auto ready = page->evaluate("ready");
      return ready && ready->toBool();
    });
  }
};

void roundTrips(benchmark::State& state, const std::string& engine, bool isBurst) {
  Container container;
  if (!container.start(engine)) {
    state.SkipWithError("the page did not load");
    return;
  }
  std::string send = (isBurst ? "burst(" : "chain(") + std::to_string(isBurst ? kBurst : kChain) + ")";
  for (auto _ : state) {
    int expected = FinishLine::finished + 1;
    container.page->evaluateAsync(send, nullptr);
    if (!pumpWebKit([&] { return FinishLine::finished >= expected; })) {
      state.SkipWithError("a round was not answered");
      return;
    }
  }
  state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations()) * (isBurst ? kBurst : kChain),
                                              benchmark::Counter::kIsRate);
}

void BM_HarborSingle(benchmark::State& state) { roundTrips(state, "HBRWKWebViewEngine", false); }
void BM_HarborBurst(benchmark::State& state) { roundTrips(state, "HBRWKWebViewEngine", true); }
void BM_UIWebViewSingle(benchmark::State& state) { roundTrips(state, "HBRUIWebViewEngine", false); }

// ---- start-up ----

harbor::bench::LaunchMedians medians;

void BM_Startup(benchmark::State& state) {
  const std::vector<std::string> bare = {HARBOR_BARE_WEBKIT_LAUNCH, scratch + "/bare.html", "375", "667"};
  const std::vector<std::string> runner = {HARBOR_RUNNER,      "--home", scratch + "/runner-home", "--web-backend", "webkit",
                                           "--until", "hello: deviceready", HARBOR_SAMPLE};
  harbor::bench::compareLaunches(state, {bare, "bare_webkit_launch: deviceready"}, {runner, "hello: deviceready"},
                                 kLaunchTimeoutMs, medians);
}

BENCHMARK(BM_PlainRoundTrip)->UseRealTime();
BENCHMARK(BM_PlainNamedRoundTrip)->UseRealTime();
BENCHMARK(BM_PlainEntryRoundTrip)->UseRealTime();
BENCHMARK(BM_HarborSingle)->UseRealTime();
BENCHMARK(BM_HarborBurst)->UseRealTime();
BENCHMARK(BM_UIWebViewSingle)->UseRealTime();
BENCHMARK(BM_Startup)->Iterations(kLaunches)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/harbor-webkit-bench-XXXXXX";
  if (!::mkdtemp(pattern)) {
    std::fprintf(stderr, "cannot make a scratch folder\n");
    return 1;
  }
  scratch = pattern;
  struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
    }
  } cleanup;

  // One display for the whole run, the launched processes' included.
  harbor::runner::VirtualDisplay display;
  if (!harbor::runner::hasDisplay()) {
    auto started = display.start(375, 667);
    if (!started) {
      std::fprintf(stderr, "webkit: no display: %s\n", started.error().c_str());
      return 1;
    }
  }
  plat::RunLoop::main().bindToCurrentThread();
  plat::web::setBackend(plat::web::Backend::WebKit);
  if (auto started = plat::web::startWebKit(); !started) {
    std::fprintf(stderr, "webkit: WebKit cannot start: %s\n", started.error().c_str());
    return 1;
  }
  // The container's log lines would drown the report.
  if (!std::getenv("HARBOR_BENCH_LOG")) plat::setLogSink([](std::string_view) {});
  if (!makeSandbox()) {
    std::fprintf(stderr, "cannot make a sandbox\n");
    return 1;
  }
  harbor::registerContainerClasses();
  plat::ClassRegistry::shared().registerClass<EchoPlugin>("EchoPlugin");
  plat::ClassRegistry::shared().registerClass<FinishLine>("FinishLine");

  auto rates = harbor::bench::runBenchmarks(argc, argv);
  if (!rates) return 1;

  double plain = (*rates)["BM_PlainRoundTrip"];
  double plainNamed = (*rates)["BM_PlainNamedRoundTrip"];
  double plainEntry = (*rates)["BM_PlainEntryRoundTrip"];
  double single = (*rates)["BM_HarborSingle"];
  double burst = (*rates)["BM_HarborBurst"];
  double uiSingle = (*rates)["BM_UIWebViewSingle"];
  std::printf("webkit: plain %.0f round trips/s (%.0f/s with answers named, %.0f/s also posting calls as arrays, %.2f "
              "of them for Harbor); Harbor WKWebView single %.0f/s, burst %.0f calls/s; UIWebView single %.0f/s; start-up "
              "%.1f ms against %.1f ms\n",
              plain, plainNamed, plainEntry, plainEntry > 0 ? single / plainEntry : 0, single, burst, uiSingle,
              medians.runner * 1000, medians.bare * 1000);
  // Round-trip time is 1/rate: plain time / single time = single rate / plain rate.
  double r1 = plain > 0 ? single / plain : 0;
  double r2 = single > 0 ? burst / single : 0;
  double r3 = medians.bare > 0 ? medians.runner / medians.bare : 0;
  std::printf("webkit: single %.2f of a plain WebKitGTK round trip, burst %.2fx single, deviceready %.2fx a bare WebKitGTK page\n",
              r1, r2, r3);
  return 0;
}
