// The WebKit page engine: one WebKitWebView per page, shown in a GTK window of the simulated
// screen's size, all views sharing one web context (one set of WebKit processes) whose web
// storage lives in the sandbox home.
//
// How WebKit's signals map onto the page's reports (WebPageClient):
// - "decide-policy" (navigation and new-window actions): the decision is kept (a reference) and
//   offered to the client on a later turn; its answer uses or ignores it. WebKit does not say
//   which frame navigates, so a navigation is taken as the top-level one unless a frame's src
//   announced it (the page script below reports every src set on an iframe) or it comes while
//   the top-level document is still loading (the frames of its markup) without being the host's
//   own load. A new fragment of the page on show is the exception: WebKit takes it at once
//   without waiting for the decision, so it is let through there and reported as an in-page
//   navigation ("notify::uri"). A history move (back, forward, go(n)) is the top-level one when
//   it goes to the back-forward list's current item, which WebKit moves before it asks; the
//   frames of the page it brings back ask with the same type, each at its own address.
// - "load-changed" / "load-failed": start, commit, finish, failure (provisional before the
//   commit), each posted to a later turn; WebKit's errors become NSURLErrorDomain errors.
//   WebKit's own error page is never shown: the container shows its own. Two failures WebKit
//   does not report are made here: a host load whose response has not come within its
//   request's timeout (WebKit would wait for ever), and an address WebKit refuses to load (a
//   restricted port), which it replaces with an empty document that looks loaded.
// - "script-dialog": kept (webkit_script_dialog_ref) and offered to the client on a later turn,
//   its texts cut as every page text is (the page script cut them in the page already, unless the
//   page got past it); closed with the client's answer. A before-unload dialog is answered
//   "leave" on a later turn (never inside the handler: WebKit lets go of the dialog as the
//   handler returns).
// - script messages: every name the view offers is registered with the user content manager;
//   one more name of ours carries the page's console, uncaught errors and frame srcs.
// - "web-process-terminated": a load in progress fails; otherwise the page reloads, at most three
//   times a minute, then its reload fails (the engines show their error page), and past that
//   nothing loads again by itself; unless the process was ended on purpose (a stop request). A
//   view left with nothing in its place says so ("WebKit: the page stays empty: ...", and
//   WebPageStaysEmptyNotification). Until a new process says which it is, no message goes to the
//   page: WebKit would start one for it.
// - what WebKit would decide for the view by itself (permissions, print, new windows, ...) is
//   answered by WebKitAnswers.cpp; the file chooser by the client.
//
// Every navigation decision ends in use or ignore: a URL the platform's parser cannot read is
// refused with the reason, and so is a file the page may not read (reported as a failed load).
// Every navigation WebKit asks about, of any frame, counts against the bound on the addresses a
// page leaves with us (plat/web/RecentAddresses.h) when we take it in; past the bound the page's
// process is ended at once. The process does not wait for us meanwhile: one whose navigations run
// ahead of us is held until we have caught up (tookIn), so what waits in our process for us to
// take it in stays small however slow the machine.
// Frames get the bridge's message handlers only when their URL was allowed (the web extension
// holds them back otherwise, see platform/webkit-extension).
//
// Synchronous evaluation and snapshots turn GLib's main context (and, while a page dialog
// waits for its answer, the platform's main run loop, where the answer comes from) until WebKit
// answers, within a time bound; a stop request (JSContext::stopAllScripts) ends the wait at once.
#include "WebKitPage.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <utility>

#include "../PageResources.h"
#include "GLibLoop.h"
#include "WebKitAnswers.h"
#include "WebKitContext.h"
#include "WebKitValues.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"
#include "plat/foundation/TextCut.h"
#include "plat/uikit/UIScreen.h"
#include "plat/web/ReadableFiles.h"
#include "plat/web/RecentAddresses.h"
#include "plat/web/ScriptMessageBody.h"
#include "plat/web/WebStorage.h"

namespace plat::web {
namespace {

// ---- The page ----------------------------------------------------------------------------------

double gSyncEvaluationSeconds = WebPage::kSyncEvaluationSeconds;
std::size_t gViewsAlive = 0;

bool sameDocument(const NSURLPtr& a, const NSURLPtr& b) {
  return a && b && withoutFragment(a) == withoutFragment(b);
}

// A new web view of ours (owned: its floating reference sunk), counted until it is finalized.
// Nothing else is made here: what WebKit sets up for each view it keeps inside itself.
WebKitWebView* makeWebKitView(WebKitWebContext* context, WebKitUserContentManager* manager) {
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                                            manager, nullptr));
  g_object_ref_sink(view);
  ++gViewsAlive;
  g_object_weak_ref(G_OBJECT(view), [](gpointer, GObject*) { --gViewsAlive; }, nullptr);
  return view;
}

class WebKitPage;

// A script message handler name connected to a page.
struct HandlerBinding {
  std::weak_ptr<WebKitPage> page;
  std::string name;
};

class WebKitPage : public WebPage {
 public:
  ~WebKitPage() override { close(); }

  void initWithClient(const std::shared_ptr<WebPageClient>& client, Configuration configuration) override {
    client_ = client;
    configuration_ = configuration;
    manager_ = webkit_user_content_manager_new();

    WebKitWebContext* context = sharedWebContext();
    updateReadableRoots();  // the home and bundle of now, for the process this view starts
    view_ = makeWebKitView(context, manager_);
    liveWebViews().insert(view_);
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    applyContainerFeatures(settings);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_allow_modal_dialogs(settings, FALSE);
    if (auto c = client_.lock()) webkit_settings_set_user_agent(settings, c->webPageUserAgent().c_str());
    // File pages may read files with script (modules, XMLHttpRequest, fetch) as on the device;
    // the extension keeps every file read inside the sandbox home and the bundle.
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);

    g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
    g_signal_connect(view_, "notify::uri", G_CALLBACK(onURIChanged), this);
    g_signal_connect(view_, "user-message-received", G_CALLBACK(onUserMessage), this);
    g_signal_connect(view_, "run-file-chooser", G_CALLBACK(onRunFileChooser), this);
    answerForTheContainer(view_);

    // Shown in a window of the simulated screen's size, so a person or a screenshot sees it.
    CGRect screen = UIScreen::mainScreen().bounds();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "Harbor");
    gtk_window_set_default_size(GTK_WINDOW(window_), std::max(1, static_cast<int>(screen.size.width)),
                                std::max(1, static_cast<int>(screen.size.height)));
    // The page stands where the web view stands in the window (setFrameInWindow); until the view
    // says, it fills the screen.
    fixed_ = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed_);
    gtk_fixed_put(GTK_FIXED(fixed_), GTK_WIDGET(view_), 0, 0);
    frame_ = CGRect{{0, 0}, screen.size};
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(1, static_cast<int>(screen.size.width)),
                                std::max(1, static_cast<int>(screen.size.height)));
    gtk_widget_show_all(window_);

    // The empty first document the headless page has too, so that script runs before any load.
    blankLoading_ = true;
    webkit_web_view_load_html(view_, "", "about:blank");
  }

  void applySettings(const Settings& settings) override {
    WebKitSettings* webSettings = liveSettings();
    if (!webSettings) return;
    webkit_settings_set_enable_javascript(webSettings, settings.javaScriptEnabled);
    webkit_settings_set_minimum_font_size(webSettings, static_cast<guint32>(std::clamp(settings.minimumFontSize, 0.0, 1000.0)));
    webkit_settings_set_javascript_can_open_windows_automatically(webSettings, settings.javaScriptCanOpenWindowsAutomatically);
    webkit_settings_set_media_playback_allows_inline(webSettings, settings.allowsInlineMediaPlayback);
    webkit_settings_set_media_playback_requires_user_gesture(webSettings, settings.mediaPlaybackRequiresUserAction);
    settings_ = settings;
  }

  void close() override {
    if (closed_) return;
    closed_ = true;
    // WebKit ends the process as it lets go of the view: not one that cannot hear it.
    if (caughtUpSource_) g_source_remove(std::exchange(caughtUpSource_, 0));
    letGo();
    // The answers not yet handed over go to their callers as they come, still in order.
    for (auto& wait : std::exchange(answersInOrder_, {})) {
      wait->inOrder = false;
      if (wait->done && wait->completion) finishAsync(wait);
    }
    if (view_) {
      g_signal_handlers_disconnect_by_data(view_, this);
      // A page that runs away when the process stops is ended with its process.
      if (JSContext::scriptsStopped()) webkit_web_view_terminate_web_process(view_);
    }
    for (auto& [name, id] : handlerSignals_) g_signal_handler_disconnect(manager_, id);
    handlerSignals_.clear();
    for (WebKitScriptDialog* dialog : dialogs_) {
      webkit_script_dialog_close(dialog);
      webkit_script_dialog_unref(dialog);
    }
    dialogs_.clear();
    if (window_) gtk_widget_destroy(window_);  // also lets go of the view widget
    window_ = nullptr;
    if (view_) {
      liveWebViews().erase(view_);
      g_object_unref(view_);
    }
    view_ = nullptr;
    if (manager_) g_object_unref(manager_);
    manager_ = nullptr;
  }

  std::uint64_t loadRequest(const NSURLRequestPtr& request, std::optional<std::string> readAccessPath) override {
    if (closed_ || !request || !request->URL()) return 0;
    confineReads(readAccessPath);
    ++hostLoadsAsked_;
    std::uint64_t id = nextLoadId_++;
    hostLoads_.push_back({id, request});
    WebKitURIRequest* uri = webkit_uri_request_new(request->URL()->absoluteString().c_str());
    webkit_web_view_load_request(view_, uri);
    g_object_unref(uri);
    limitWait(id, request->timeoutInterval());
    return id;
  }

  std::uint64_t loadHTMLString(const std::string& html, const NSURLPtr& baseURL,
                               std::optional<std::string> readAccessPath) override {
    if (closed_) return 0;
    confineReads(readAccessPath);
    NSURLPtr url = baseURL ? baseURL : NSURL::URLWithString("about:blank");
    ++hostLoadsAsked_;
    std::uint64_t id = nextLoadId_++;
    hostLoads_.push_back({id, NSURLRequest::requestWithURL(url)});
    webkit_web_view_load_html(view_, html.c_str(), url->absoluteString().c_str());
    return id;
  }

  std::uint64_t reload() override {
    if (closed_ || !request_) return 0;
    ++hostLoadsAsked_;
    std::uint64_t id = nextLoadId_++;
    hostLoads_.push_back({id, request_});
    webkit_web_view_reload(view_);
    return id;
  }

  void stopLoading() override {
    if (!closed_) webkit_web_view_stop_loading(view_);
  }

  NSURLPtr URL() const override {
    if (closed_ || !everLoaded_) return nullptr;
    const char* uri = webkit_web_view_get_uri(view_);
    return uri ? NSURL::URLWithString(uri) : nullptr;
  }
  NSURLRequestPtr request() const override { return request_; }
  bool isLoading() const override { return !closed_ && current_.has_value(); }
  std::string title() override {
    const char* title = closed_ ? nullptr : webkit_web_view_get_title(view_);
    return title ? title : "";
  }

  Result<JSValue> evaluate(const std::string& script, JSException* exception) override {
    if (auto refused = refusal()) return *refused;
    auto wait = std::make_shared<Waiting>();
    startEvaluation(script, wait, true);
    if (!waitFor(*wait)) {
      g_cancellable_cancel(wait->cancellable);
      if (!JSContext::scriptsStopped()) logGaveUp(script, false);
      return Failure{"the page did not answer in time"};
    }
    return resultOf(wait->evaluation, exception);
  }

  // Every such evaluation waits in answersInOrder_ until its answer is handed over: at once when
  // it comes within the bound and no earlier one is still to be handed over; otherwise to `late`,
  // in turn (handOver). A late answer posted by itself reached its caller after the answers that
  // came behind it, and the commands a long callback made ran after those made later.
  AnswerNowOrLate evaluateOrAnswerLate(const std::string& script, EvaluationCompletion late) override {
    if (auto refused = refusal()) return *refused;
    auto wait = std::make_shared<Waiting>();
    wait->inOrder = true;
    answersInOrder_.push_back(wait);
    startEvaluation(script, wait, true);
    bool answered = waitFor(*wait);
    if (!answered && JSContext::scriptsStopped()) {
      // Nothing more is taken from the page: the caller hears so now.
      g_cancellable_cancel(wait->cancellable);
      std::erase(answersInOrder_, wait);
      handOverLater();
      return Failure{"page script is stopped"};
    }
    if (answered && (!wait->inOrder || answersInOrder_.front() == wait)) {
      std::erase(answersInOrder_, wait);
      handOverLater();
      return resultOf(wait->evaluation, nullptr);
    }
    // Given up on (the script goes on in the page), or answered behind an evaluation whose answer
    // is still to be handed over (an answer nobody takes still holds its place).
    wait->completion = late ? std::move(late) : [](const Evaluation&) {};
    if (!answered) logGaveUp(script, true);
    handOverLater();
    return std::nullopt;
  }

  void evaluateAsync(const std::string& script, EvaluationCompletion completion) override {
    if (auto wait = asyncWait(std::move(completion))) startEvaluation(script, wait, static_cast<bool>(wait->completion));
  }

  // Through the web extension, which makes the function once per document and body (the
  // messages to the page and the evaluations arrive in the order they were sent).
  void callFunctionAsync(const std::string& body, const std::vector<FunctionArgument>& arguments,
                         EvaluationCompletion completion) override {
    auto wait = asyncWait(std::move(completion));
    if (!wait) return;
    GVariantBuilder names, texts;
    g_variant_builder_init(&names, G_VARIANT_TYPE_STRING_ARRAY);
    g_variant_builder_init(&texts, G_VARIANT_TYPE_STRING_ARRAY);
    for (const FunctionArgument& argument : arguments) {
      g_variant_builder_add(&names, "s", argument.name.c_str());
      g_variant_builder_add(&texts, "s", argument.json.c_str());
    }
    bool wantsResult = static_cast<bool>(wait->completion);
    askPage(webkit_user_message_new("harbor-call", g_variant_new("(sasasb)", body.c_str(), &names, &texts,
                                                                 static_cast<gboolean>(wantsResult))),
            wantsResult ? wait : nullptr);
  }

  // The extension's answer to a call or script (its reply), read within the bounds a page's
  // values are read in; none: the page went before it answered.
  static Evaluation callResultOf(GVariant* reply) {
    Evaluation evaluation;
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(ys)"))) {
      evaluation.invalidated = true;
      return evaluation;
    }
    guchar kind = 0;
    const char* text = nullptr;
    g_variant_get(reply, "(y&s)", &kind, &text);
    std::string_view answer(text);
    if (kind == 'u') {
      evaluation.value = Value();
    } else if (kind == 'd') {
      evaluation.value = numberValue(g_ascii_strtod(text, nullptr));
    } else if (kind == 'x') {
      evaluation.exception = JSException{std::string(answer), "", 0, ""};
    } else if (kind == 'v' && answer.size() <= ScriptMessageBodyReader::kMaxTextBytes) {
      auto parsed = json::parse(answer, {.allowFragments = true, .maxValues = ScriptMessageBodyReader::kMaxValues});
      if (parsed)
        evaluation.value = std::move(*parsed);
      else
        evaluation.unsupportedType = true;
    } else {
      evaluation.unsupportedType = true;
    }
    return evaluation;
  }

  JSContext& context() override {
    if (!scratch_) scratch_ = std::make_unique<JSContext>();
    return *scratch_;
  }

  void setScriptMessageHandlerNames(std::vector<std::string> names) override {
    if (closed_) return;
    std::set<std::string> wanted(names.begin(), names.end());
    for (auto it = handlerSignals_.begin(); it != handlerSignals_.end();) {
      if (wanted.count(it->first)) {
        ++it;
        continue;
      }
      g_signal_handler_disconnect(manager_, it->second);
      webkit_user_content_manager_unregister_script_message_handler(manager_, it->first.c_str());
      it = handlerSignals_.erase(it);
    }
    for (const std::string& name : wanted) registerHandler(name);
  }

  void setFrameInWindow(const CGRect& given) override {
    // A view of no size has not been laid out yet (a view made without a frame): until it is,
    // the page fills the screen, as it would once laid out in a window of the screen's size.
    CGRect frame = given.size.width > 0 && given.size.height > 0 ? given : CGRect{{0, 0}, UIScreen::mainScreen().bounds().size};
    if (closed_ || frame == frame_) return;
    frame_ = frame;
    gtk_fixed_move(GTK_FIXED(fixed_), GTK_WIDGET(view_), static_cast<gint>(std::lround(frame.origin.x)),
                   static_cast<gint>(std::lround(frame.origin.y)));
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(1, static_cast<gint>(std::lround(frame.size.width))),
                                std::max(1, static_cast<gint>(std::lround(frame.size.height))));
  }

  Result<bool> writeSnapshotPNG(const std::string& path, const std::vector<Backdrop>& backdrops) override {
    if (closed_) return Failure{"the page is closed"};
    struct Shot {
      bool done = false;
      cairo_surface_t* surface = nullptr;
      std::string error;
      GCancellable* cancellable = g_cancellable_new();
      ~Shot() {
        if (surface) cairo_surface_destroy(surface);
        g_object_unref(cancellable);
      }
    };
    auto shot = new std::shared_ptr<Shot>(std::make_shared<Shot>());
    auto keep = *shot;
    webkit_web_view_get_snapshot(
        view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, keep->cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::shared_ptr<Shot>> holder(static_cast<std::shared_ptr<Shot>*>(data));
          Shot& s = **holder;
          GError* error = nullptr;
          s.surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
          if (error) {
            s.error = error->message;
            g_error_free(error);
          }
          s.done = true;
        },
        shot);
    if (!turnUntilThePageAnswers(kSnapshotSeconds, [&] { return keep->done; }, [] { return false; })) {
      g_cancellable_cancel(keep->cancellable);
      return Failure{"WebKit did not draw the page in time"};
    }
    if (!keep->surface) return Failure{"WebKit could not draw the page: " + keep->error};
    // The whole screen: black, the views around the page, then the page where it stands.
    CGRect screen = UIScreen::mainScreen().bounds();
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, static_cast<int>(screen.size.width)),
                                                          std::max(1, static_cast<int>(screen.size.height)));
    cairo_t* cr = cairo_create(picture);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    for (const Backdrop& backdrop : backdrops) {
      cairo_set_source_rgba(cr, backdrop.color.red, backdrop.color.green, backdrop.color.blue, backdrop.color.alpha);
      cairo_rectangle(cr, backdrop.frame.origin.x, backdrop.frame.origin.y, backdrop.frame.size.width,
                      backdrop.frame.size.height);
      cairo_fill(cr);
    }
    cairo_set_source_surface(cr, keep->surface, std::lround(frame_.origin.x), std::lround(frame_.origin.y));
    cairo_paint(cr);
    cairo_destroy(cr);
    // Written beside the target and renamed over it, so a stop leaves the old file or the new one.
    std::string folder = stringByDeletingLastPathComponent(path);
    std::string partial = stringByAppendingPathComponent(
        folder.empty() ? "." : folder, "." + lastPathComponent(path) + ".harbor-partial-" + std::to_string(std::random_device{}()));
    cairo_status_t status = cairo_surface_write_to_png(picture, partial.c_str());
    cairo_surface_destroy(picture);
    if (status != CAIRO_STATUS_SUCCESS) {
      ::unlink(partial.c_str());
      return Failure{std::string("cannot write the PNG: ") + cairo_status_to_string(status)};
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
      ::unlink(partial.c_str());
      return Failure{"cannot put the PNG in place at " + path};
    }
    return true;
  }

  // WebKit runs the page in processes of its own; there is nothing to simulate here.
  void simulateLinkClick(const NSURLPtr& url) override {
    if (closed_ || !url) return;
    std::string script = "location.href = " + jsonString(url->absoluteString()) + ";";
    webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError>) override {
    if (closed_ || !url) return;
    std::string script = "(function(){var f=document.createElement('iframe');f.style.display='none';f.src=" +
                         jsonString(url->absoluteString()) + ";(document.body||document.documentElement).appendChild(f);})();";
    webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  bool simulateFailure(const NSError&) override { return false; }
  bool simulateTap(double x, double y) override {
    GdkWindow* window = closed_ ? nullptr : gtk_widget_get_window(GTK_WIDGET(view_));
    if (!window) return false;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return false;
    // As the display server would hand them to the view: a press and a release at the point.
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
      GdkEvent* event = gdk_event_new(type);
      event->button.window = GDK_WINDOW(g_object_ref(window));
      // A time of its own, so that two taps in a row are not taken for a double click.
      event->button.time = static_cast<guint32>(g_get_monotonic_time() / 1000);
      event->button.x = x;
      event->button.y = y;
      event->button.button = 1;
      gdk_event_set_device(event, pointer);
      gtk_main_do_event(event);
      gdk_event_free(event);
    }
    return true;
  }

 private:
  struct HostLoad {
    std::uint64_t id;
    NSURLRequestPtr request;
  };
  struct MainLoad {
    std::uint64_t id = 0;
    NSURLRequestPtr request;
    bool started = false;
    bool committed = false;
    bool failed = false;
    bool refusedRead = false;  // the extension refused to read the document
    bool shownBlank = false;   // WebKit refused the address and shows an empty document instead
  };
  struct HeldDecision {
    explicit HeldDecision(WebKitPolicyDecision* d) : decision(WEBKIT_POLICY_DECISION(g_object_ref(d))) {}
    ~HeldDecision() {
      if (!answered) webkit_policy_decision_ignore(decision);
      g_object_unref(decision);
    }
    WebKitPolicyDecision* decision;
    bool answered = false;
  };
  struct Waiting {
    bool done = false;
    Evaluation evaluation;
    EvaluationCompletion completion;  // async, or an answer handed over later
    bool inOrder = false;             // one of answersInOrder_
    GCancellable* cancellable = g_cancellable_new();
    ~Waiting() { g_object_unref(cancellable); }
  };

  // Why the page runs no script now, if it does not.
  std::optional<Failure> refusal() const {
    if (closed_) return Failure{"the page is closed"};
    if (JSContext::scriptsStopped()) return Failure{"page script is stopped"};
    return std::nullopt;
  }

  // Turns GLib until WebKit answers, within the bound (the platform's loop too, while a page
  // dialog waits for its answer); false when given up or stopped.
  bool waitFor(const Waiting& wait) {
    return turnUntilThePageAnswers(gSyncEvaluationSeconds, [&] { return wait.done; }, [&] { return !dialogs_.empty(); });
  }

  // Turns GLib while waiting for the page's process, which is let go first and not held again
  // meanwhile (see tookIn): we would wait on a process we stopped ourselves.
  template <typename Done, typename TurnPlatform>
  bool turnUntilThePageAnswers(double seconds, Done done, TurnPlatform turnPlatform) {
    letGo();
    ++waitingForThePage_;
    bool answered = turnUntil(seconds, done, turnPlatform);
    --waitingForThePage_;
    return answered;
  }

  static void logGaveUp(const std::string& script, bool answerTaken) {
    NSLog("WebKit: gave up waiting for the page's script after " + format("%g", gSyncEvaluationSeconds) +
          " s (the page may run away" + (answerTaken ? "; its answer is taken when it comes" : "") +
          "): " + logExcerpt(script));
  }

  Result<JSValue> resultOf(const Evaluation& evaluation, JSException* exception) {
    if (evaluation.exception) {
      if (exception) *exception = *evaluation.exception;
      return Failure{evaluation.exception->message};
    }
    if (evaluation.invalidated) return Failure{"the page is gone"};
    return context().makeValue(evaluation.value.value_or(Value()));
  }

  // Hands over, in order, the answers that came of the evaluations at the front of
  // answersInOrder_, on a later turn: a caller on the stack takes its own answer first.
  void handOverLater() {
    if (handOverPosted_ || answersInOrder_.empty()) return;
    handOverPosted_ = true;
    RunLoop::main().post([weak = weak()] {
      auto page = weak.lock();
      if (!page) return;
      page->handOverPosted_ = false;
      page->handOver();
    });
  }
  void handOver() {
    // An answer without a completion belongs to a wait still on the stack, which takes it.
    while (!closed_ && !answersInOrder_.empty() && answersInOrder_.front()->done && answersInOrder_.front()->completion) {
      auto wait = answersInOrder_.front();
      answersInOrder_.pop_front();
      auto completion = std::exchange(wait->completion, nullptr);
      completion(wait->evaluation);
    }
  }

  // The wait of an asynchronous evaluation or call; none when the page runs no script now (the
  // completion then hears why on a later turn).
  std::shared_ptr<Waiting> asyncWait(EvaluationCompletion completion) {
    auto wait = std::make_shared<Waiting>();
    wait->completion = std::move(completion);
    if (!closed_ && !JSContext::scriptsStopped()) return wait;
    wait->evaluation.invalidated = closed_;
    if (!closed_) wait->evaluation.exception = JSException{"page script is stopped", "", 0, ""};
    finishAsync(wait);
    return nullptr;
  }

  static std::string jsonString(const std::string& text) {
    std::string out;
    json::appendQuoted(out, text);
    return out;
  }

  // The page's file reads from now on: inside readAccessPath when given ("" reads none), else
  // anywhere in the sandbox home and the bundle. Sent before the load, so it arrives first.
  void confineReads(const std::optional<std::string>& readAccessPath) {
    readAccess_ = readAccessPath;
    GVariant* parameters = readAccessPath ? g_variant_new_string(readAccessPath->c_str()) : nullptr;
    webkit_web_view_send_message_to_page(view_, webkit_user_message_new("harbor-read-access", parameters), nullptr,
                                         nullptr, nullptr);
  }

  // The view's settings while the view lives: a view GTK has destroyed under us (its window
  // closed by a person) keeps no settings.
  WebKitSettings* liveSettings() {
    if (closed_ || !view_) return nullptr;
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    return WEBKIT_IS_SETTINGS(settings) ? settings : nullptr;
  }

  std::weak_ptr<WebKitPage> weak() { return std::static_pointer_cast<WebKitPage>(shared_from_this()); }

  template <class F>
  void report(F call) {
    RunLoop::main().post([weak = weak(), call] {
      auto self = weak.lock();
      if (!self || self->closed_) return;
      if (auto c = self->client_.lock()) call(*c);
    });
  }

  void registerHandler(const std::string& name) {
    if (handlerSignals_.count(name)) return;
    if (!webkit_user_content_manager_register_script_message_handler(manager_, name.c_str())) return;
    auto* binding = new HandlerBinding{weak(), name};
    std::string signal = "script-message-received::" + name;
    gulong id = g_signal_connect_data(manager_, signal.c_str(), G_CALLBACK(onScriptMessage), binding,
                                      [](gpointer data, GClosure*) { delete static_cast<HandlerBinding*>(data); },
                                      GConnectFlags(0));
    handlerSignals_[name] = id;
  }

  // A script or call for the extension to run in the document; its answer ends the wait (none:
  // nobody waits for it). A page whose process ended is sent nothing until a new one says which
  // it is: WebKit would start a process for the message, with an empty page nobody asked for (a
  // plugin's answer after "the page stays empty" did); the wait hears that the page is gone.
  void askPage(WebKitUserMessage* message, const std::shared_ptr<Waiting>& wait) {
    if (processEnded_) {
      g_object_unref(g_object_ref_sink(message));
      if (wait) {
        wait->evaluation.invalidated = true;
        answered(wait, weak());
      }
      return;
    }
    if (!wait) {
      webkit_web_view_send_message_to_page(view_, message, nullptr, nullptr, nullptr);
      return;
    }
    struct Asked {
      std::shared_ptr<Waiting> wait;
      std::weak_ptr<WebKitPage> page;
    };
    webkit_web_view_send_message_to_page(
        view_, message, wait->cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Asked> asked(static_cast<Asked*>(data));
          WebKitUserMessage* reply = webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
          asked->wait->evaluation = callResultOf(reply ? webkit_user_message_get_parameters(reply) : nullptr);
          if (reply) g_object_unref(reply);
          answered(asked->wait, asked->page);
        },
        new Asked{wait, weak()});
  }

  // The page's answer came: to the wait on the stack, in turn to a late one, or to the completion.
  static void answered(const std::shared_ptr<Waiting>& wait, const std::weak_ptr<WebKitPage>& page) {
    wait->done = true;
    if (!wait->inOrder) {
      if (wait->completion) finishAsync(wait);
    } else if (auto self = page.lock()) {
      self->handOverLater();
    }
  }

  // Run by the extension, not by WebKit's evaluation, which would give the script a user's
  // gesture (see platform/webkit-extension).
  void startEvaluation(const std::string& script, const std::shared_ptr<Waiting>& wait, bool wantsResult) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, script.data(), script.size(), 1);
    askPage(webkit_user_message_new("harbor-evaluate", g_variant_new("(@ayb)", bytes, static_cast<gboolean>(wantsResult))),
            wantsResult ? wait : nullptr);
  }

  static void finishAsync(const std::shared_ptr<Waiting>& wait) {
    // The completion runs on a later turn of the platform's loop, as the views expect.
    RunLoop::main().post([wait] {
      auto completion = std::move(wait->completion);
      wait->completion = nullptr;
      if (completion) completion(wait->evaluation);
    });
  }

  // ---- Signals ----

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 WebKitPage* self) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
      decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
      return TRUE;
    }
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* uriRequest = webkit_navigation_action_get_request(action);
    std::string uri = webkit_uri_request_get_uri(uriRequest);
    self->tookIn(uri.size());
    // Nothing more of a process that is ending; past the bound, the process ends (see the top).
    if (self->endingProcess_ || self->addresses_.add(uri.size(), monotonicSeconds())) {
      if (!self->endingProcess_) self->endForItsAddresses(self->addresses_.whyTheProcessEnds());
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
    NSURLPtr url = NSURL::URLWithString(uri);
    bool redirect = webkit_navigation_action_is_redirect(action);
    WebNavigationType navigationType = navigationTypeOf(webkit_navigation_action_get_navigation_type(action));
    bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;

    if (self->standInLoad(uri)) {
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    if (self->blankLoading_ && !self->blankDecided_ && uri == "about:blank") {
      self->blankDecided_ = true;
      webkit_policy_decision_use(decision);  // the empty first document
      return TRUE;
    }
    if (!url) {
      // WebKit's parser takes what ours refuses; the container judges only URLs it can read, so
      // such a navigation never gets as far as the filter, the page or its frames.
      NSLog("WebKit: refused a navigation to " + logPageText(uri) + ": the container cannot read the URL (" +
            NSURL::refusalReason(uri) + ")");
      webkit_policy_decision_ignore(decision);
      self->refused(uri.size());
      return TRUE;
    }
    // Which frame navigates (see the top of this file).
    std::optional<HostLoad> host;
    bool mainFrame = true;
    if (self->preapproved_.erase(uri) && !self->hostLoads_.empty()) {
      // A new window's link, already allowed: it opens here without a second vote.
      HostLoad load = self->hostLoads_.front();
      self->hostLoads_.pop_front();
      WebNavigationAction navigation{load.request, WebNavigationType::LinkClicked, true, load.id};
      self->decided(decision, navigation, true, false, url);
      return TRUE;
    }
    auto announced = std::find(self->announcedFrames_.begin(), self->announcedFrames_.end(), cutPageText(uri));
    // A link or form aimed at a frame by its name ("_self", "_top" and "_parent" are the page's).
    const char* target = webkit_navigation_action_get_frame_name(action);
    bool named = target && *target && g_strcmp0(target, "_self") != 0 && g_strcmp0(target, "_top") != 0 &&
                 g_strcmp0(target, "_parent") != 0;
    if (newWindow) {
      navigationType = WebNavigationType::LinkClicked;
    } else if (redirect && self->pending_) {
      host = HostLoad{self->pending_->id, self->pending_->request};
    } else if (!self->hostLoads_.empty() && navigationType != WebNavigationType::LinkClicked &&
               announced == self->announcedFrames_.end()) {
      host = self->hostLoads_.front();
      self->hostLoads_.pop_front();
    } else if (announced != self->announcedFrames_.end()) {
      self->announcedFrames_.erase(announced);
      mainFrame = false;
    } else if (named) {
      mainFrame = false;
    } else if (navigationType == WebNavigationType::BackForward && !self->isHistoryTarget(uri)) {
      mainFrame = false;  // a frame of the page a history move brings back
    } else if (navigationType == WebNavigationType::Other && self->current_ && !self->current_->failed &&
               !self->sameDocumentNavigation(url, navigationType, uriRequest)) {
      mainFrame = false;  // a frame of the document being loaded (a new fragment of it is its own)
    }

    WebNavigationAction navigation;
    NSMutableURLRequestPtr request = NSMutableURLRequest::requestWithURL(url);
    if (host && host->request && host->request->URL() && host->request->URL()->isEqual(*url)) request = host->request->mutableCopy();
    if (const char* method = webkit_uri_request_get_http_method(uriRequest)) request->setHTTPMethod(method);
    NSURLPtr current = self->URL();
    request->setMainDocumentURL(mainFrame ? url : (current ? current : url));
    navigation.request = request;
    navigation.navigationType = navigationType;
    navigation.mainFrame = mainFrame;
    navigation.loadIdentifier = mainFrame ? (host ? host->id : self->nextLoadId_++) : 0;

    if (mainFrame && !newWindow && self->sameDocumentNavigation(url, navigationType, uriRequest)) {
      // WebKit asks about a new fragment of the page on show synchronously, and without an
      // answer then goes ahead at once: the page's script runs on with the new address. So it is
      // let through now and reported as the in-page navigation it is (notify::uri), not offered
      // as a load to decide on a later turn, when the page would already read the new address.
      webkit_policy_decision_use(decision);
      return TRUE;
    }

    // Held until answered; a decision nobody answers (the page went first) is ignored.
    auto held = std::make_shared<HeldDecision>(decision);
    auto weakPage = self->weak();
    self->report([held, navigation, weakPage, newWindow, url](WebPageClient& client) {
      client.webPageDecidePolicy(navigation, [held, navigation, weakPage, newWindow, url](bool allow) {
        if (held->answered) return;
        held->answered = true;
        auto page = weakPage.lock();
        if (!page || page->closed_) {
          webkit_policy_decision_ignore(held->decision);
          return;
        }
        page->decided(held->decision, navigation, allow, newWindow, url);
      });
    });
    return TRUE;
  }

  void decided(WebKitPolicyDecision* decision, const WebNavigationAction& navigation, bool allow, bool newWindow,
               const NSURLPtr& url) {
    if (!allow) {
      webkit_policy_decision_ignore(decision);
      // Which frame navigates is a guess (see the top): every refusal counts.
      refused(url->absoluteString().size());
      return;
    }
    if (newWindow) {
      // The page asked for a new window: the allowed link opens in this view.
      webkit_policy_decision_ignore(decision);
      hostLoads_.push_front({navigation.loadIdentifier, navigation.request});
      preapproved_.insert(url->absoluteString());
      WebKitURIRequest* uri = webkit_uri_request_new(url->absoluteString().c_str());
      webkit_web_view_load_request(view_, uri);
      g_object_unref(uri);
      return;
    }
    // The frame's document may talk to the bridge (the extension holds it back from others).
    webkit_web_view_send_message_to_page(
        view_, webkit_user_message_new("harbor-allowed-frame", g_variant_new_string(url->absoluteString().c_str())),
        nullptr, nullptr, nullptr);
    if (navigation.mainFrame) {
      if (auto c = client_.lock(); c && liveSettings()) webkit_settings_set_user_agent(liveSettings(), c->webPageUserAgent().c_str());
      pending_ = MainLoad{navigation.loadIdentifier, navigation.request};
      // The client hears that the load starts before WebKit is let go: what the container does
      // at a page's start (resetting the plugins, restoring web storage from its backup) is done
      // before the new page's script, which WebKit runs in a process of its own, can see it.
      reportStart(*pending_);
      auto* kept = WEBKIT_POLICY_DECISION(g_object_ref(decision));
      RunLoop::main().post([kept, weak = weak(), id = navigation.loadIdentifier] {
        auto page = weak.lock();
        // A load that failed before it was let go (its time ran out) is not started.
        if (page && !page->closed_ && page->pending_ && page->pending_->id == id)
          page->useForThePage(kept);
        else
          webkit_policy_decision_ignore(kept);
        g_object_unref(kept);
      });
      return;
    }
    webkit_policy_decision_use(decision);
  }

  // Lets a top-level load go on, with the page's rule for media: WebKit's own autoplay rule is the
  // website policy a document gets with its load, and it stands over the views' setting.
  void useForThePage(WebKitPolicyDecision* decision) {
    WebKitWebsitePolicies* policies = webkit_website_policies_new_with_policies(
        "autoplay", settings_.mediaPlaybackRequiresUserAction ? WEBKIT_AUTOPLAY_DENY : WEBKIT_AUTOPLAY_ALLOW, nullptr);
    webkit_policy_decision_use_with_policies(decision, policies);
    g_object_unref(policies);
  }

  // WebKit's rule for a navigation within the document on show: its address up to the fragment,
  // with a fragment (the same one scrolls to it again), neither a reload nor a form's POST. The
  // view's address is the document's once a load has committed (before, it is the new one's).
  // WebKit asks about no history move within the document: one it asks about loads another
  // document, whatever its address.
  bool sameDocumentNavigation(const NSURLPtr& url, WebNavigationType type, WebKitURIRequest* request) const {
    const char* method = webkit_uri_request_get_http_method(request);
    if (type == WebNavigationType::Reload || type == WebNavigationType::BackForward || !url->fragment() || !everLoaded_ || pending_ ||
        (current_ && !current_->committed) || (method && g_ascii_strcasecmp(method, "GET") != 0))
      return false;
    NSURLPtr current = URL();
    return current && sameDocument(current, url);
  }

  // Whether a history move goes to uri: WebKit moves its back-forward list to the page's new
  // entry before it asks about the move, and the frames of that page load at their own
  // addresses, not at the entry's.
  bool isHistoryTarget(const std::string& uri) const {
    WebKitBackForwardListItem* item = webkit_back_forward_list_get_current_item(webkit_web_view_get_back_forward_list(view_));
    if (!item) return true;
    return g_strcmp0(webkit_back_forward_list_item_get_uri(item), uri.c_str()) == 0 ||
           g_strcmp0(webkit_back_forward_list_item_get_original_uri(item), uri.c_str()) == 0;
  }

  // WebKit waits for a response as long as the server keeps the connection: the host's load
  // fails as timed out when it has no response (no commit) within its request's timeout, on the
  // platform's clock. A load refused or replaced meanwhile is left alone.
  void limitWait(std::uint64_t id, double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return;
    RunLoop::main().scheduleTimer(seconds, [weak = weak(), id] {
      auto page = weak.lock();
      if (!page || page->closed_) return;
      // Allowed but not let go yet: its decision is then ignored rather than used.
      bool waiting = page->pending_ && page->pending_->id == id;
      std::optional<MainLoad>& load = waiting ? page->pending_ : page->current_;
      if (!load || load->id != id || load->committed || load->failed) return;
      load->failed = true;
      WebLoad failed{load->id, true, load->request};
      NSError timedOut = NSURLErrorWithCode(NSURLErrorTimedOut, load->request ? load->request->URL() : nullptr);
      page->report([failed, timedOut](WebPageClient& c) { c.webPageDidFailLoad(failed, timedOut, true); });
      if (waiting)
        page->pending_.reset();
      else
        webkit_web_view_stop_loading(page->view_);
    });
  }

  // WebKit replaces an address it refuses to load (a restricted port) with an empty document,
  // committed and finished like a page: the load failed (told at its finish, as a refused read).
  bool shownInPlaceOfTheRequest() const {
    const char* shown = webkit_web_view_get_uri(view_);
    const NSURLPtr& asked = current_ && current_->request ? current_->request->URL() : nullptr;
    return g_strcmp0(shown, "about:blank") == 0 && asked && !(asked->scheme() && equalsIgnoringCaseASCII(*asked->scheme(), "about"));
  }

  // A top-level load starts: the one in progress, if any, was replaced.
  void reportStart(MainLoad& load) {
    if (current_ && !current_->failed) {
      current_->failed = true;
      WebLoad old{current_->id, true, current_->request};
      bool provisional = !current_->committed;
      NSError cancelled = NSURLErrorWithCode(NSURLErrorCancelled, old.request ? old.request->URL() : nullptr);
      report([old, cancelled, provisional](WebPageClient& c) { c.webPageDidFailLoad(old, cancelled, provisional); });
    }
    load.started = true;
    request_ = load.request;
    everLoaded_ = true;
    WebLoad started{load.id, true, load.request};
    report([started](WebPageClient& c) { c.webPageDidStartLoad(started); });
  }

  // A navigation's response: shown when WebKit can show it; otherwise WebKit would download it
  // into the user's folders, so it is refused (pages download with the File Transfer plugin).
  static void decideResponse(WebKitResponsePolicyDecision* decision) {
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    const char* disposition = headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
    bool attachment = disposition && g_ascii_strncasecmp(disposition, "attachment", 10) == 0;
    if (webkit_response_policy_decision_is_mime_type_supported(decision) && !attachment) {
      webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
      return;
    }
    const char* uri = webkit_uri_response_get_uri(response);
    const char* type = webkit_uri_response_get_mime_type(response);
    NSLog("WebKit: did not download " + logPageText(uri ? uri : "") + " (" +
          (attachment ? std::string("an attachment") : "of type " + logExcerpt(type ? type : "")) +
          "): pages download with the File Transfer plugin");
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
  }

  // WebKit keeps in our process what it made for a frame's navigation we refused (some four
  // copies of its address) until the page's process ends: 300 refusals of 40 KB addresses, ten a
  // second, left 53 MB behind, and more the longer a page went on. So the addresses of the
  // navigations refused may hold kRefusedBytes for as long as a process lives; past that it ends.
  // Short addresses do not count: what an ordinary page has refused all day long is short (the
  // UIWebView bridge's own signal, 11 bytes, comes a million times and more in a long-lived
  // application), and ending its process for them would take the application down.
  static constexpr std::size_t kRefusedBytes = std::size_t{16} << 20;
  static constexpr std::size_t kShortAddressBytes = 2048;
  void refused(std::size_t bytes) {
    if (bytes <= kShortAddressBytes) return;
    refusedBytes_ += bytes;
    if (refusedBytes_ > kRefusedBytes && !endingProcess_)
      endForItsAddresses("WebKit: the page's refused navigations hold " + std::to_string(refusedBytes_) +
                         " bytes, more than " + std::to_string(kRefusedBytes >> 20) + " MiB; its content process ends");
  }

  // The page's navigations hold more addresses than a bound: its process ends at once, and the
  // page then reloads within the reloads' bound.
  void endForItsAddresses(const std::string& why) {
    NSLog(why);
    endingProcess_ = true;
    if (endContentProcess(processId_)) return;
    // A process that has not said which it is: ended by WebKit, once it has stopped asking.
    RunLoop::main().post([weak = weak()] {
      auto page = weak.lock();
      if (page && !page->closed_ && page->endingProcess_) webkit_web_view_terminate_web_process(page->view_);
    });
  }

  // The page's process does not wait for us to take its navigations in, and WebKit keeps in our
  // process all it has sent that we have not (some 30 copies of each address), as we keep each
  // navigation we have yet to decide: a page navigating in a loop runs ahead of us by as much as
  // the machine lets it. So once its navigations have brought in more than a little since we last
  // had nothing left to do, the process is held where it is (SIGSTOP) until WebKit has handed us
  // all it sent and we have decided on it, and is let go then (SIGCONT), or after some seconds
  // at most, should something else keep us busy that long; and before we wait for it ourselves
  // (turnUntilThePageAnswers).
  static constexpr std::size_t kNavigationsAhead = 64;
  static constexpr std::size_t kBytesAhead = std::size_t{256} << 10;
  static constexpr guint kLongestHoldMilliseconds = 5000;
  void tookIn(std::size_t bytes) {
    ++navigationsTakenIn_;
    bytesTakenIn_ += bytes;
    if (!caughtUpSource_) caughtUpSource_ = g_idle_add_full(G_PRIORITY_LOW, onCaughtUp, this, nullptr);
    if (heldProcess_ || waitingForThePage_ || (navigationsTakenIn_ <= kNavigationsAhead && bytesTakenIn_ <= kBytesAhead))
      return;
    if (!holdContentProcess(processId_, true)) return;
    heldProcess_ = processId_;
    holdTimer_ = g_timeout_add(kLongestHoldMilliseconds, onHeldLongest, this);
  }
  // WebKit has nothing more for us; what we posted for the navigations it handed over runs before
  // this does.
  static gboolean onCaughtUp(gpointer data) {
    auto* self = static_cast<WebKitPage*>(data);
    self->caughtUpSource_ = 0;
    RunLoop::main().post([weak = self->weak(), taken = self->navigationsTakenIn_] {
      auto page = weak.lock();
      // Navigations that came meanwhile have their own turn.
      if (!page || page->closed_ || page->navigationsTakenIn_ != taken) return;
      page->navigationsTakenIn_ = 0;
      page->bytesTakenIn_ = 0;
      page->letGo();
    });
    return G_SOURCE_REMOVE;
  }
  static gboolean onHeldLongest(gpointer data) {
    auto* self = static_cast<WebKitPage*>(data);
    self->holdTimer_ = 0;
    self->letGo();
    return G_SOURCE_REMOVE;
  }
  void letGo() {
    if (holdTimer_) g_source_remove(std::exchange(holdTimer_, 0));
    if (heldProcess_) holdContentProcess(std::exchange(heldProcess_, 0), false);
  }

  bool mayRead(const std::string& uri) const { return readable::mayReadFile(uri, readableRoots(), readAccess_); }

  static void logRefusedRead(const std::string& uri) {
    NSLog("WebKit: a page may not read " + logPageText(uri) +
          ": pages read files only inside the sandbox home and the application bundle (and the view's read access)");
  }

  // A top-level load that fails before WebKit is asked for it, reported as WebKit's own failure
  // before the commit would be (the engines show their error page).
  void failLoad(const WebNavigationAction& navigation, const NSError& error) {
    WebLoad load{navigation.loadIdentifier, true, navigation.request};
    report([load](WebPageClient& c) { c.webPageDidStartLoad(load); });
    report([load, error](WebPageClient& c) { c.webPageDidFailLoad(load, error, true); });
  }

  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, WebKitPage* self) {
    if (self->standIn_) {
      if (event == WEBKIT_LOAD_FINISHED) self->standInLoaded();
      return;
    }
    switch (event) {
      case WEBKIT_LOAD_STARTED: {
        // A load we allowed starts; without one, while the empty first document loads, it is
        // that document (the view's URI may still read "about:blank" as the next load starts).
        if (!self->pending_ && self->blankLoading_ && !self->current_) break;
        self->blankLoading_ = false;
        MainLoad load = self->pending_.value_or(MainLoad{self->nextLoadId_++, nullptr});
        self->pending_.reset();
        if (!load.request) {
          const char* uri = webkit_web_view_get_uri(self->view_);
          load.request = NSURLRequest::requestWithURL(NSURL::URLWithString(uri ? uri : "about:blank"));
        }
        // An allowed load was reported as it was let go; one WebKit starts by itself (a reload
        // after its process ended, a redirect) is reported now.
        if (!load.started) self->reportStart(load);
        self->current_ = load;
        break;
      }
      case WEBKIT_LOAD_REDIRECTED:
        break;
      case WEBKIT_LOAD_COMMITTED: {
        if (!self->current_) break;
        self->current_->committed = true;
        self->current_->shownBlank = self->shownInPlaceOfTheRequest();
        self->announcedFrames_.clear();
        WebLoad load{self->current_->id, true, self->current_->request};
        self->report([load](WebPageClient& c) { c.webPageDidCommitLoad(load); });
        break;
      }
      case WEBKIT_LOAD_FINISHED: {
        if (!self->current_) {
          self->blankLoading_ = false;
          break;
        }
        MainLoad done = *self->current_;
        self->current_.reset();
        if (done.failed) break;
        if (done.refusedRead || done.shownBlank) {
          // The extension cancelled the document's read, or WebKit refused the address, and
          // WebKit shows an empty document as if it had loaded: the load fails instead.
          NSError refused = NSURLErrorWithCode(done.refusedRead ? NSURLErrorNoPermissionsToReadFile : NSURLErrorUnsupportedURL,
                                               done.request ? done.request->URL() : nullptr);
          WebLoad load{done.id, true, done.request};
          bool provisional = !done.committed;
          self->report([load, refused, provisional](WebPageClient& c) { c.webPageDidFailLoad(load, refused, provisional); });
          break;
        }
        WebLoad load{done.id, true, done.request};
        self->report([load](WebPageClient& c) { c.webPageDidFinishLoad(load); });
        break;
      }
    }
  }

  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar* uri, GError* error, WebKitPage* self) {
    if (self->standIn_) {
      self->standInLoaded();
      return TRUE;
    }
    if (!self->current_) self->blankLoading_ = false;
    if (!self->current_ || self->current_->failed) return TRUE;
    self->current_->failed = true;
    bool provisional = !self->current_->committed && event != WEBKIT_LOAD_COMMITTED;
    WebLoad load{self->current_->id, true, self->current_->request};
    NSError mapped = errorOf(error, uri ? uri : "");
    self->report([load, mapped, provisional](WebPageClient& c) { c.webPageDidFailLoad(load, mapped, provisional); });
    return TRUE;  // no WebKit error page: the container shows its own
  }

  static void onURIChanged(WebKitWebView* view, GParamSpec*, WebKitPage* self) {
    // A same-document navigation (a new fragment) changes the URI without a load.
    if (self->current_ || self->pending_) return;
    const char* uri = webkit_web_view_get_uri(view);
    NSURLPtr url = uri ? NSURL::URLWithString(uri) : nullptr;
    if (!url) return;
    self->report([url](WebPageClient& c) { c.webPageDidNavigateInPage(url); });
  }

  // From our extension in the page's processes: WebKit's own console messages, a file read it
  // refused, and messages of a frame that does not get the bridge.
  static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, WebKitPage* self) {
    GVariant* parameters = webkit_user_message_get_parameters(message);
    const char* name = webkit_user_message_get_name(message);
    auto string = [parameters] {
      return parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_STRING)
                 ? std::string(g_variant_get_string(parameters, nullptr))
                 : std::string();
    };
    if (g_strcmp0(name, "harbor-console") == 0) {
      // Refused loads, security errors and the like, as console lines.
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        const char* level = nullptr;
        const char* text = nullptr;
        g_variant_get(parameters, "(&s&s)", &level, &text);
        NSLog(std::string("console.") + logExcerpt(level, 16) + ": " + cutPageText(text));
      }
    } else if (g_strcmp0(name, "harbor-process") == 0) {
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_INT64)) {
        self->processId_ = static_cast<int>(g_variant_get_int64(parameters));
        self->processEnded_ = false;
        self->messagesArrived_ = 0;  // counted anew, as its extension counts what it posts
        watchContentProcess(self->processId_);
      }
    } else if (g_strcmp0(name, "harbor-page") == 0) {
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) {
        const char* kind = nullptr;
        const char* first = nullptr;
        const char* second = nullptr;
        g_variant_get(parameters, "(&s&s&s)", &kind, &first, &second);
        self->pageMessage(kind, first, second);
      }
    } else if (g_strcmp0(name, "harbor-refused-read") == 0) {
      std::string uri = string();
      logRefusedRead(uri);
      // The top-level document's own read (it comes before WebKit reports the load's end).
      if (self->current_ && self->current_->request && self->current_->request->URL() &&
          self->current_->request->URL()->absoluteString() == uri)
        self->current_->refusedRead = true;
    } else if (g_strcmp0(name, "harbor-messages-posted") == 0) {
      // Every script message the page posted before asking has arrived, or never will.
      webkit_user_message_send_reply(message, webkit_user_message_new(name, g_variant_new_uint64(self->messagesArrived_)));
    } else if (g_strcmp0(name, "harbor-held-back") == 0) {
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT64))
        NSLog("WebKit: the page posts script messages faster than the container runs them; " +
              std::to_string(g_variant_get_uint64(parameters)) +
              " wait, so its further messages are dropped until the container has caught up");
    } else if (g_strcmp0(name, "harbor-dropped-messages") == 0) {
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT64))
        NSLog("WebKit: " + std::to_string(g_variant_get_uint64(parameters)) +
              " script messages of the page were dropped while the container caught up");
    } else if (g_strcmp0(name, "harbor-dropped-message") == 0) {
      if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        const char* handler = nullptr;
        const char* frame = nullptr;
        g_variant_get(parameters, "(&s&s)", &handler, &frame);
        NSLog("WebKit: dropped the messages to '" + logExcerpt(handler) +
              "' of a frame the navigation filter did not allow (" + logPageText(frame) + ")");
      }
    } else {
      return FALSE;
    }
    return TRUE;
  }

  // The page's file input: the client's chooser answers, once; a chooser nobody answers (the
  // page went first) is cancelled.
  static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, WebKitPage* self) {
    struct Held {
      explicit Held(WebKitFileChooserRequest* r) : request(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(r))) {}
      ~Held() {
        if (!answered) webkit_file_chooser_request_cancel(request);
        g_object_unref(request);
      }
      WebKitFileChooserRequest* request;
      bool answered = false;
    };
    auto held = std::make_shared<Held>(request);
    WebPageClient::OpenPanel panel;
    if (const gchar* const* types = webkit_file_chooser_request_get_mime_types(request))
      for (; *types; ++types) panel.mimeTypes.emplace_back(*types);
    panel.allowsMultiple = webkit_file_chooser_request_get_select_multiple(request);
    std::string accepts;
    for (const auto& type : panel.mimeTypes) accepts += (accepts.empty() ? "" : ", ") + type;
    self->report([held, panel, accepts](WebPageClient& client) {
      client.webPageRunOpenPanel(panel, [held, accepts](std::vector<std::string> paths) {
        if (held->answered) return;
        held->answered = true;
        NSLog("WebKit: the page's file chooser (" + logExcerpt(accepts.empty() ? "any file" : accepts) + ") -> " +
              (paths.empty() ? std::string("cancelled") : std::to_string(paths.size()) + " file(s)"));
        if (paths.empty()) {
          webkit_file_chooser_request_cancel(held->request);
          return;
        }
        std::vector<const char*> files;
        for (const auto& path : paths) files.push_back(path.c_str());
        files.push_back(nullptr);
        webkit_file_chooser_request_select_files(held->request, files.data());
      });
    });
    return TRUE;
  }

  static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, WebKitPage* self) {
    webkit_script_dialog_ref(dialog);
    self->dialogs_.push_back(dialog);
    std::string message = cutPageText(webkit_script_dialog_get_message(dialog));
    auto weakPage = self->weak();
    // Closes the dialog once, with the answer set by `answer`.
    auto close = [weakPage, dialog](auto answer) {
      auto page = weakPage.lock();
      if (!page) return;  // closed with the page
      auto it = std::find(page->dialogs_.begin(), page->dialogs_.end(), dialog);
      if (it == page->dialogs_.end()) return;
      page->dialogs_.erase(it);
      answer(dialog);
      webkit_script_dialog_close(dialog);
      webkit_script_dialog_unref(dialog);
    };
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
      case WEBKIT_SCRIPT_DIALOG_ALERT:
        self->report([message, close](WebPageClient& c) {
          c.webPageRunAlert(message, [close] { close([](WebKitScriptDialog*) {}); });
        });
        break;
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        self->report([message, close](WebPageClient& c) {
          c.webPageRunConfirm(message, [close](bool ok) {
            close([ok](WebKitScriptDialog* d) { webkit_script_dialog_confirm_set_confirmed(d, ok); });
          });
        });
        break;
      case WEBKIT_SCRIPT_DIALOG_PROMPT: {
        const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
        std::string text = cutPageText(defaultText ? defaultText : "");
        self->report([message, text, close](WebPageClient& c) {
          c.webPageRunPrompt(message, text, [close](std::optional<std::string> answer) {
            close([answer](WebKitScriptDialog* d) {
              // Without an answer the prompt gives null, as a cancelled one does.
              if (answer) webkit_script_dialog_prompt_set_text(d, answer->c_str());
            });
          });
        });
        break;
      }
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        // The page is left, as a phone's web view leaves it without asking anyone; answered on a
        // later turn like every dialog: WebKit lets go of the dialog itself once this handler
        // returns, and a dialog closed before then has already been let go of (WebKit then
        // released nothing and crashed).
        RunLoop::main().post([message, close] {
          close([message](WebKitScriptDialog* d) {
            NSLog("WebKit: the page's before-unload dialog '" + logExcerpt(message) + "' -> leave");
            webkit_script_dialog_confirm_set_confirmed(d, TRUE);
          });
        });
        break;
    }
    return TRUE;
  }

  static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, HandlerBinding* binding) {
    auto page = binding->page.lock();
    if (!page || page->closed_) return;
    ++page->messagesArrived_;
    if (!page->configuration_.scriptMessageHandlers) return page->messageRun();
    std::optional<UnreadableBody> unreadable;
    std::optional<Value> body = valueOf(webkit_javascript_result_get_js_value(result), &unreadable);
    std::string name = binding->name;
    // Held once, not copied on its way: a body may be hundreds of MiB.
    auto message = std::make_shared<Value>(body ? std::move(*body) : Value());
    RunLoop::main().post([weak = page->weak(), name, message, unreadable] {
      auto self = weak.lock();
      if (!self || self->closed_) return;
      if (auto c = self->client_.lock()) c->webPageDidReceiveScriptMessage(name, std::move(*message), unreadable);
      self->messageRun();
    });
  }

  // The extension lets a page have so many script messages waiting (platform/webkit-extension):
  // it hears how many were run, every kMessagesRunReported, and soon after the last of a burst.
  static constexpr std::size_t kMessagesRunReported = 256;
  void messageRun() {
    if (closed_) return;
    if (++messagesRun_ >= kMessagesRunReported) return reportMessagesRun();
    if (messagesRunTimer_) return;
    messagesRunTimer_ = RunLoop::main().scheduleTimer(0.05, [weak = weak()] {
      if (auto self = weak.lock()) {
        self->messagesRunTimer_ = 0;
        self->reportMessagesRun();
      }
    });
  }
  void reportMessagesRun() {
    // Nothing to a page whose process is gone or stopping: a message would start a new one.
    if (closed_ || messagesRun_ == 0 || processId_ == 0 || JSContext::scriptsStopped()) return;
    webkit_web_view_send_message_to_page(
        view_, webkit_user_message_new("harbor-messages-run", g_variant_new_uint64(std::exchange(messagesRun_, 0))), nullptr,
        nullptr, nullptr);
  }

  // What our page script reports (page.js): console lines (logged in order, at once), frame
  // srcs and requests to capture the screen.
  void pageMessage(const std::string& kind, const char* first, const char* second) {
    if (kind == "console") {
      NSLog("console." + logExcerpt(first, 16) + ": " + cutPageText(second));
    } else if (kind == "frame") {
      // Cut as the page script cuts it, and compared so with the URLs WebKit asks about.
      announcedFrames_.push_back(cutPageText(first));
      if (announcedFrames_.size() > 256) announcedFrames_.pop_front();
    } else if (kind == "screen") {
      refuseScreenCapture();
    }
  }

  static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, WebKitPage* self) {
    self->processEnded_ = true;
    bool tooBig = contentProcessEndedForMemory(std::exchange(self->processId_, 0));
    bool tooManyAddresses = std::exchange(self->endingProcess_, false);
    // A process that has ended is held no more, and the next is not held for what it sent.
    if (self->holdTimer_) g_source_remove(std::exchange(self->holdTimer_, 0));
    self->heldProcess_ = 0;
    self->navigationsTakenIn_ = 0;
    self->bytesTakenIn_ = 0;
    // The next process starts with no navigations of its own, as its extension does; WebKit lets
    // go of the refused ones with the process.
    self->addresses_.clear();
    self->refusedBytes_ = 0;
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API && !tooManyAddresses) return;
    std::string why = tooManyAddresses                                  ? "was ended for its addresses"
                      : reason == WEBKIT_WEB_PROCESS_CRASHED && !tooBig ? "crashed"
                                                                         : "exceeded its memory limit";
    // Dialogs of the dead page are answered by nobody.
    for (WebKitScriptDialog* dialog : self->dialogs_) webkit_script_dialog_unref(dialog);
    self->dialogs_.clear();
    // A stand-in whose process ended never loads, and what was to follow it is decided anew here
    // (a page that cannot live in the limit at all would otherwise go round for ever).
    self->standIn_.reset();
    ++self->processEnds_;
    if (self->current_ && !self->current_->failed) {
      NSLog("WebKit: the page's content process " + why + "; its load fails");
      self->current_->failed = true;
      WebLoad load{self->current_->id, true, self->current_->request};
      bool provisional = !self->current_->committed;
      self->current_.reset();
      self->reportEndedLoad(load, provisional, why);
      return;
    }
    if (JSContext::scriptsStopped()) return;
    // A page that keeps ending its process would be loaded again for ever: every load made for it
    // here (a reload, or the reload that fails so that the engines show their error page) counts
    // towards the bound, and past it nothing more is loaded.
    double now = monotonicSeconds();
    while (!self->recoveries_.empty() && now - self->recoveries_.front() >= kReloadWindowSeconds)
      self->recoveries_.pop_front();
    if (self->recoveries_.size() > kMaxReloadsPerWindow) {
      self->staysEmpty("its content process " + why + " again, after " + std::to_string(kMaxReloadsPerWindow) +
                       " reloads and a failed one within a minute");
      return;
    }
    self->recoveries_.push_back(now);
    if (self->recoveries_.size() > kMaxReloadsPerWindow) {
      NSLog("WebKit: the page's content process " + why + " again (" + std::to_string(kMaxReloadsPerWindow) +
            " reloads within a minute already); the page is not reloaded, its load fails");
      self->showStandIn(AfterStandIn::FailReload, why);
      return;
    }
    NSLog("WebKit: the page's content process " + why + "; reloading the page");
    self->showStandIn(AfterStandIn::Reload, why);
  }

  // The reload of the page on show, asked for like any reload, that fails at once as a load whose
  // process ended.
  // The view of a process that ended shows no document, but a web view always has one (the
  // UIWebView engine reads the page's address to tell a reload from a new fragment): an empty
  // document at the page's address comes first, loaded quietly, then the reload, or the reload
  // that fails once the page has ended its process too often.
  enum class AfterStandIn { Reload, FailReload };
  void showStandIn(AfterStandIn then, const std::string& why) {
    if (!request_ || !request_->URL()) return;
    standIn_ = request_->URL()->absoluteString();
    afterStandIn_ = then;
    endedBecause_ = why;
    webkit_web_view_load_alternate_html(view_, "", standIn_->c_str(), standIn_->c_str());
  }

  // The stand-in's load: never the client's business.
  bool standInLoad(const std::string& uri) const { return standIn_ && *standIn_ == uri; }
  void standInLoaded() {
    if (!standIn_) return;
    standIn_.reset();
    // What follows is dropped when the process ends again meanwhile: that end decides anew.
    RunLoop::main().post([weak = weak(), then = afterStandIn_, ends = processEnds_] {
      auto page = weak.lock();
      if (!page || page->closed_ || page->processEnds_ != ends) return;
      if (then == AfterStandIn::Reload)
        page->reload();
      else
        page->askToFailReload();
    });
  }

  void askToFailReload() {
    WebNavigationAction navigation{request_, WebNavigationType::Reload, true, nextLoadId_++};
    auto weakPage = weak();
    report([navigation, weakPage](WebPageClient& client) {
      client.webPageDecidePolicy(navigation, [navigation, weakPage](bool allow) {
        auto page = weakPage.lock();
        if (!allow || !page || page->closed_) return;
        WebLoad load{navigation.loadIdentifier, true, navigation.request};
        page->report([load](WebPageClient& c) { c.webPageDidStartLoad(load); });
        page->reportEndedLoad(load, true, page->endedBecause_);
      });
    });
  }

  // A load that failed because the page's content process ended. When the client loads nothing in
  // its place (no error page, or the error page itself failed), the view stays empty for good:
  // nothing is loaded again by itself, and the log says so.
  void reportEndedLoad(const WebLoad& load, bool provisional, const std::string& why) {
    NSError error = processEnded(load.request ? load.request->URL() : nullptr);
    RunLoop::main().post([weak = weak(), load, error, provisional, why] {
      auto self = weak.lock();
      if (!self || self->closed_) return;
      auto client = self->client_.lock();
      if (!client) return;
      std::uint64_t asked = self->hostLoadsAsked_;
      client->webPageDidFailLoad(load, error, provisional);
      if (self->closed_ || self->hostLoadsAsked_ != asked || JSContext::scriptsStopped()) return;
      self->staysEmpty("its content process " + why + " and nothing loads in its place");
    });
  }

  // Said to the reader in the log, and to whoever waits for the page (the runner) by a
  // notification: a log line would be no word of ours, since a page's text may read the same.
  void staysEmpty(const std::string& why) {
    NSLog(kPageStaysEmptyLog + why);
    NSNotificationCenter::defaultCenter().post(WebPageStaysEmptyNotification, shared_from_this(),
                                               Value(Dictionary{{"reason", why}}));
  }

  // The failing URL goes with the error, as with every failed load: the engines tell their error
  // page's own failure by it (and would load the error page again for ever without it).
  static NSError processEnded(const NSURLPtr& url) {
    Dictionary info{{"NSLocalizedDescription", "The page's content process ended"}};
    if (url) info.set(NSURLErrorFailingURLStringErrorKey, url->absoluteString());
    return NSError{NSURLErrorDomain, NSURLErrorNetworkConnectionLost, "The page's content process ended", std::move(info)};
  }

  std::weak_ptr<WebPageClient> client_;
  Configuration configuration_;
  WebKitWebView* view_ = nullptr;
  WebKitUserContentManager* manager_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* fixed_ = nullptr;  // in the window, holding the view where it stands
  CGRect frame_;                // the view's place in the window
  std::map<std::string, gulong> handlerSignals_;
  std::vector<WebKitScriptDialog*> dialogs_;
  std::deque<HostLoad> hostLoads_;
  std::deque<std::string> announcedFrames_;
  std::set<std::string> preapproved_;
  std::optional<MainLoad> pending_;  // allowed, not started yet
  std::optional<MainLoad> current_;  // started, not finished
  NSURLRequestPtr request_;
  std::uint64_t nextLoadId_ = 1;
  bool everLoaded_ = false;
  // At most this many reloads after the page's process ended, within this many seconds; then
  // one reload that fails, and nothing more.
  static constexpr std::size_t kMaxReloadsPerWindow = 3;
  static constexpr double kReloadWindowSeconds = 60;
  std::deque<double> recoveries_;  // when each load of the window was made for an ended process (monotonic seconds)
  std::uint64_t processEnds_ = 0;  // how many of the page's content processes ended
  std::string endedBecause_;       // why the last one ended, for the failed reload's log line
  std::uint64_t hostLoadsAsked_ = 0;  // loads the client asked for (loadRequest, loadHTMLString, reload)
  std::optional<std::string> readAccess_;  // the host load's read-access folder or file
  int processId_ = 0;                      // the content process, as its extension said
  RecentAddresses addresses_;              // what the page's last navigations hold
  bool endingProcess_ = false;             // ended for its addresses, not yet reported gone
  std::size_t refusedBytes_ = 0;           // the addresses of the navigations refused
  // What the page's navigations brought in since the runner last had nothing left to do, and the
  // content process held meanwhile (see tookIn).
  std::size_t navigationsTakenIn_ = 0;
  std::size_t bytesTakenIn_ = 0;
  guint caughtUpSource_ = 0;
  guint holdTimer_ = 0;
  int heldProcess_ = 0;
  int waitingForThePage_ = 0;  // nested waits for the page's process, which is never held meanwhile
  Settings settings_;                      // as the view last applied them
  std::optional<std::string> standIn_;     // the address of the quiet stand-in document loading
  AfterStandIn afterStandIn_ = AfterStandIn::Reload;
  bool blankLoading_ = false;  // the empty first document is still loading
  bool blankDecided_ = false;
  bool closed_ = false;
  bool processEnded_ = false;  // and no new one has said which it is
  // The evaluations whose answers go to their callers in the order they were made (oldest first).
  std::deque<std::shared_ptr<Waiting>> answersInOrder_;
  bool handOverPosted_ = false;
  std::size_t messagesRun_ = 0;  // script messages run since the extension last heard
  std::uint64_t messagesArrived_ = 0;  // script messages of the page's process that reached us
  RunLoop::TimerId messagesRunTimer_ = 0;
  std::unique_ptr<JSContext> scratch_;  // made on first use
};

}  // namespace

std::string webKitDataFolder() { return localStorageFolder(); }

void setSyncEvaluationSecondsForTesting(double seconds) { gSyncEvaluationSeconds = seconds; }

std::size_t webKitViewsAliveForTesting() { return gViewsAlive; }

std::shared_ptr<WebPage> makeWebKitPage() {
  if (!webKitStarted()) {
    NSLog("WebKit is not started; the page uses the headless engine");
    return nullptr;
  }
  return std::make_shared<WebKitPage>();
}

}  // namespace plat::web
