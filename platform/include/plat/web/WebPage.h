#pragma once
// The page engine behind both web views (WebPage, an interface) and what it reports to
// (WebPageClient). Two engines: the headless one (plat/web/HeadlessWebPage.h: JavaScriptCore
// with a small DOM stand-in, no layout; the unit tests' engine, on the manual clock) and WebKit
// (WebKitGTK 2.50 in a GTK window of the simulated screen's size). Both behave as below.
//
// Loading a page: every navigation (from the host, from the page, of a frame) is first offered
// to the client's policy; an allowed top-level load reports start, commit (the new document
// replaces the old one), then finish once the document and its frames and scripts have loaded,
// or a failure (provisional before the commit). The headless engine fetches frames (their loads
// are reported like the page's) but runs no scripts in them; WebKit reports top-level loads
// only. A new top-level load stops the one in progress, which fails as cancelled
// (NSURLErrorCancelled).
//
// Every report to the client is posted to the main run loop and arrives on a later turn; the
// policy is asked directly and may be answered later. The page's alert, confirm and prompt are
// modal: the page waits until the client answers (the headless page runs the main loop meanwhile
// and takes the cancel answer when nothing is left to run).
//
// Threads: main thread only. The headless page never creates threads; its loads run where the
// URL loading system runs them and report on the main run loop. WebKit runs pages in processes
// of its own and reports through GLib's main context, which the main run loop turns.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSError.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/NSURLRequest.h"
#include "plat/foundation/Object.h"
#include "plat/foundation/Result.h"
#include "plat/foundation/Value.h"
#include "plat/uikit/Geometry.h"
#include "plat/web/JSContext.h"
#include "plat/web/ScriptMessageBody.h"

namespace plat::web {

// Numbered as UIWebView numbers its navigation types.
enum class WebNavigationType { LinkClicked = 0, FormSubmitted = 1, BackForward = 2, Reload = 3, FormResubmitted = 4, Other = 5 };

struct WebNavigationAction {
  NSURLRequestPtr request;  // its mainDocumentURL is the top-level document's URL
  WebNavigationType navigationType = WebNavigationType::Other;
  bool mainFrame = true;
  std::uint64_t loadIdentifier = 0;  // the load it becomes when allowed
};

// One load of the top-level document or of a frame.
struct WebLoad {
  std::uint64_t identifier = 0;
  bool mainFrame = true;
  NSURLRequestPtr request;
};

class WebPageClient {
 public:
  using PolicyDecision = std::function<void(bool allow)>;

  virtual ~WebPageClient() = default;
  // Called for every navigation; the decision must be called once, now or later.
  virtual void webPageDecidePolicy(const WebNavigationAction& action, PolicyDecision decision) = 0;
  // The user agent for a load starting now.
  virtual std::string webPageUserAgent() = 0;
  virtual void webPageDidStartLoad(const WebLoad& load) {}
  virtual void webPageDidCommitLoad(const WebLoad& load) {}
  virtual void webPageDidFinishLoad(const WebLoad& load) {}
  // provisional: the top-level load failed before its document replaced the old one.
  virtual void webPageDidFailLoad(const WebLoad& load, const NSError& error, bool provisional) {}
  // Same-document navigation (a new fragment): no load.
  virtual void webPageDidNavigateInPage(const NSURLPtr& url) {}
  virtual void webPageRunAlert(const std::string& message, std::function<void()> done) { done(); }
  virtual void webPageRunConfirm(const std::string& message, std::function<void(bool)> done) { done(false); }
  virtual void webPageRunPrompt(const std::string& message, const std::string& defaultText,
                                std::function<void(std::optional<std::string>)> done) {
    done(std::nullopt);
  }
  // window.webkit.messageHandlers.<name>.postMessage(body), on a later turn. A body the host
  // cannot read arrives absent, with why (plat/web/ScriptMessageBody.h).
  virtual void webPageDidReceiveScriptMessage(const std::string& name, Value body,
                                              std::optional<UnreadableBody> unreadable) {}
  // The page's file input asks for files (<input type="file">): what it accepts (MIME types such
  // as "image/*"; none: any file) and whether it takes several. Answered once with the chosen
  // files' paths; none cancels. Nobody is there to choose by default.
  struct OpenPanel {
    std::vector<std::string> mimeTypes;
    bool allowsMultiple = false;
  };
  virtual void webPageRunOpenPanel(const OpenPanel& panel, std::function<void(std::vector<std::string> paths)> done) {
    done({});
  }
};

// An argument of WebPage::callFunctionAsync: the parameter's name and its value as JSON text.
struct FunctionArgument {
  std::string name;
  std::string json;
};

// What a page engine does for a web view. Two engines implement it: the headless one
// (plat/web/HeadlessWebPage.h, the default and the unit tests' engine) and the WebKit one
// (WebKitGTK in a window of the simulated screen's size), chosen process-wide with setBackend.
// Views made after the choice use its engine; HarborLib sees only the views.
class WebPage : public Object {
 public:
  // Documents, scripts and what pages load with XMLHttpRequest or fetch fail to load past this
  // size (NSURLErrorDataLengthExceedsMaximum).
  static constexpr std::size_t kMaxResourceBytes = 64 * 1024 * 1024;
  // The most run-loop turns a modal dialog waits for its answer.
  static constexpr std::size_t kMaxModalTurns = 100000;

  struct Configuration {
    // Documents get window.webkit.messageHandlers (the WebKit flavour).
    bool scriptMessageHandlers = false;
  };

  // What an evaluation gave: a value, or the script's exception, or a result without a value
  // form (a function).
  struct Evaluation {
    std::optional<Value> value;
    std::optional<JSException> exception;
    bool unsupportedType = false;
    // The page is gone (closed, or its content process ended).
    bool invalidated = false;

    static Evaluation pageGone() {
      Evaluation gone;
      gone.invalidated = true;
      return gone;
    }
  };
  using EvaluationCompletion = std::function<void(const Evaluation& evaluation)>;

  // What the views let their owner set that the engine honours (WebKit's settings; the headless
  // engine has no use for them).
  struct Settings {
    bool javaScriptEnabled = true;
    double minimumFontSize = 0;
    bool javaScriptCanOpenWindowsAutomatically = false;
    bool allowsInlineMediaPlayback = false;
    bool mediaPlaybackRequiresUserAction = true;
    bool operator==(const Settings&) const = default;
  };
  virtual void applySettings(const Settings& settings) {}

  // Second creation step: the page starts with an empty, loaded "about:blank" document.
  virtual void initWithClient(const std::shared_ptr<WebPageClient>& client, Configuration configuration) = 0;
  // Stops everything; nothing more is reported.
  virtual void close() = 0;

  // Host loads. Each returns the identifier of the load it becomes once the policy allows it.
  // readAccessPath: when given, file URLs (this one, its scripts and frames) load only from
  // inside that folder or file; otherwise any file may be read.
  virtual std::uint64_t loadRequest(const NSURLRequestPtr& request,
                                    std::optional<std::string> readAccessPath = std::nullopt) = 0;
  // The text as a document at baseURL ("about:blank" when none).
  virtual std::uint64_t loadHTMLString(const std::string& html, const NSURLPtr& baseURL,
                                       std::optional<std::string> readAccessPath = std::nullopt) = 0;
  // The identifier of the new load; 0 when nothing was loaded yet.
  virtual std::uint64_t reload() = 0;
  // The top-level load in progress, if any, fails as cancelled.
  virtual void stopLoading() = 0;

  // The current document's URL (with the fragment of in-page navigations), and the request of
  // the last top-level load started.
  virtual NSURLPtr URL() const = 0;
  virtual NSURLRequestPtr request() const = 0;
  virtual bool isLoading() const = 0;
  virtual std::string title() = 0;

  // Runs script in the current document now and gives its completion value. The WebKit engine
  // turns the main loop until its content process answers, at most kSyncEvaluationSeconds (a
  // page that runs away is given up with a log line); its result is a copy in a context of its
  // own (context()).
  static constexpr double kSyncEvaluationSeconds = 10;
  virtual Result<JSValue> evaluate(const std::string& script, JSException* exception = nullptr) = 0;
  // As evaluate, for a caller that must not lose the page's answer (the page may have handed it
  // commands it no longer holds) and takes its answers in the order the page gave them: the
  // result now, or nothing, and then the page's answer goes to late on a later turn, after the
  // answers of the evaluations of this kind made before it. The WebKit engine answers late when
  // it gives up waiting (the script still runs in the page) and when an earlier evaluation's
  // answer is still to be handed over; a stop request (JSContext::stopAllScripts) while it waits
  // is a failure now. The headless engine always answers now.
  using AnswerNowOrLate = std::optional<Result<JSValue>>;
  virtual AnswerNowOrLate evaluateOrAnswerLate(const std::string& script, EvaluationCompletion late) {
    return evaluate(script);
  }
  // Runs script in the current document; the completion (may be empty) runs on a later turn.
  virtual void evaluateAsync(const std::string& script, EvaluationCompletion completion);
  // Calls `function (<parameters>) { <body> }` in the current document with the arguments, each
  // given as JSON text and read as JSON.parse reads it; the completion (may be empty) gets the
  // function's return value as evaluateAsync's gets a script's, on a later turn. Made for a call
  // repeated with new values: the WebKit engine makes the function once per document and body,
  // where a script with the values written into it would be compiled anew each time. Calls and
  // evaluations reach the document in the order they were made.
  virtual void callFunctionAsync(const std::string& body, const std::vector<FunctionArgument>& arguments,
                                 EvaluationCompletion completion);
  // The context evaluate's results belong to.
  virtual JSContext& context() = 0;

  // The script message handler names the documents offer (WebKit flavour).
  virtual void setScriptMessageHandlerNames(std::vector<std::string> names) = 0;

  // Writes a PNG of what the page shows to path (replacing it whole). The WebKit engine turns
  // the main loop until WebKit has drawn it, at most kSnapshotSeconds; the headless engine
  // draws nothing and fails with the reason.
  // What the window shows around the page (views' backgrounds, in the window's coordinates,
  // bottom first) is drawn under it, on black, so the picture is the whole screen.
  static constexpr double kSnapshotSeconds = 10;
  struct Backdrop {
    CGRect frame;
    UIColor color;
  };
  virtual Result<bool> writeSnapshotPNG(const std::string& path, const std::vector<Backdrop>& backdrops = {}) = 0;

  // Where the view stands in its window, in points: the WebKit engine places and sizes the page
  // so (the page measures the size; a status bar beside it takes the rest of the screen). A frame
  // of no size is a view not laid out yet: the page fills the screen until it is.
  virtual void setFrameInWindow(const CGRect& frame) {}

  // Test surface.
  // The user follows a link in the page to url.
  virtual void simulateLinkClick(const NSURLPtr& url) = 0;
  // A frame of the current document navigates to url; with a failure, its load fails so.
  virtual void simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure = std::nullopt) = 0;
  // The top-level load in progress fails with the error; false when none is in progress.
  virtual bool simulateFailure(const NSError& error) = 0;
  // The user taps the page at (x, y), in points from the view's top left corner, as a person
  // would (the page sees a user's gesture). False where the engine takes no taps (headless).
  virtual bool simulateTap(double x, double y) { return false; }
};

// The process-wide choice of page engine. Headless unless set; the runner sets WebKit (after
// startWebKit succeeded). Main thread.
enum class Backend { WebKit, Headless };
void setBackend(Backend backend);
Backend backend();
// What WebKit's processes may take, set when WebKit starts.
struct WebKitOptions {
  static constexpr std::size_t kDefaultMemoryLimitMB = 2048;
  // The smallest limit a page can live in. A content process's resident size counts the
  // libraries it maps: WebKitGTK 2.50 shows an empty page in about 207 MiB on a 375x667 screen
  // and 222 MiB on a 768x1024 one, the sample application in 235 and 254 MiB; below this every
  // page's process is ended as soon as it starts.
  static constexpr std::size_t kSmallestMemoryLimitMB = 320;
  // Each content process (and the network process) is ended by WebKit past this many MiB; the
  // page's view then reloads, at most three times a minute, before its load fails (and the
  // engines show their error page); past that nothing is loaded again by itself.
  std::size_t contentProcessMemoryLimitMB = kDefaultMemoryLimitMB;
};
// A view whose content process ended and in whose place nothing loads any more by itself: the
// page will not come back. The WebKit engine logs a line starting so, for the reader, and posts
// the notification (on the main thread; object: the page; userInfo {"reason": the line's rest})
// for whoever waits on the page: a log line is no signal, since a page can log the same text.
inline constexpr char kPageStaysEmptyLog[] = "WebKit: the page stays empty: ";
inline constexpr char WebPageStaysEmptyNotification[] = "WebPageStaysEmptyNotification";
// Starts GTK and WebKit on the main thread, once (later calls give the first answer). Fails
// with a plain reason when it cannot (no display, GTK cannot open it). From here on the main
// run loop also turns GLib's main context.
Result<bool> startWebKit(const WebKitOptions& options = {});
// A new page of the chosen engine.
std::shared_ptr<WebPage> makeWebPage();

// Main thread. Turns the main run loop (and GLib's main context once WebKit is started) until
// done() or the bound in real seconds; false when the bound came first. For tests and for
// waiting on a page outside RunLoop::run.
bool turnMainLoopUntil(const std::function<bool()>& done, double seconds);

// Test surface: the bound of the WebKit engine's synchronous evaluation
// (WebPage::kSyncEvaluationSeconds until set).
void setSyncEvaluationSecondsForTesting(double seconds);
// Test surface: how many of the WebKit engine's web views exist (made and not yet finalized).
std::size_t webKitViewsAliveForTesting();
// Test surface: a selection of the display ("CLIPBOARD", "PRIMARY") as the desktop's programs see
// it, not the one WebKit gives the pages: its text (none when empty), and setting it (none clears
// it). WebKit started.
std::optional<std::string> displaySelectionTextForTesting(const std::string& selection);
void setDisplaySelectionTextForTesting(const std::string& selection, const std::optional<std::string>& text);

}  // namespace plat::web
