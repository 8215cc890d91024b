#include "plat/web/HeadlessWebPage.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "DOMScript.h"
#include "../PageLanguages.h"
#include "../PageResources.h"
#include "PageServices.h"
#include "ScriptLanguages.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"
#include "plat/foundation/TextCut.h"
#include "plat/web/HTMLTokenizer.h"
#include "plat/web/ScriptMessageBody.h"

namespace plat::web {
namespace {

// Where a load's document goes in the page's session history.
struct HistoryMove {
  bool replace = false;        // in place of the current entry (location.replace)
  std::uint64_t entry = 0;     // a history move: to the entry of this serial
};

struct MainLoad {
  std::uint64_t identifier = 0;
  NSURLRequestPtr request;
  WebNavigationType type = WebNavigationType::Other;
  HistoryMove history;
  std::optional<std::string> readAccessPath;
  std::optional<std::string> html;  // shown instead of fetching (loadHTMLString)
  std::string userAgent;
  bool committed = false;
  bool finished = false;
  std::shared_ptr<ResourceFetch> fetch;

  WebLoad load() const { return WebLoad{identifier, true, request}; }
};

NSURLRequestPtr plainRequest(const NSURLPtr& url) { return NSURLRequest::requestWithURL(url); }

bool hasScheme(const NSURLPtr& url, std::string_view scheme) {
  return url && url->scheme() && equalsIgnoringCaseASCII(*url->scheme(), scheme);
}

}  // namespace

// One top-level document: its JavaScriptCore context, the DOM stand-in's hooks, its timers, the
// loads it has in flight and the state of its parse.
//
// Lifetime: the page holds the current document; the document's script hooks and the tasks it
// posts hold it weakly, and every entry into its script holds it strongly until the script
// returns, so a document replaced while its script runs (from inside a modal dialog) goes away
// only afterwards. A torn-down document runs nothing more.
struct Document : std::enable_shared_from_this<Document> {
  std::weak_ptr<HeadlessWebPage::Impl> page;
  std::unique_ptr<JSContext> js;
  JSValue dom;  // after js: released first
  std::unique_ptr<ScriptMessageBodyReader> messageBodies;  // made before the page's script runs
  NSURLPtr url;
  NSURLPtr baseURL;
  bool baseFromMarkup = false;
  std::optional<std::string> readAccessPath;
  std::string userAgent;
  std::uint64_t loadIdentifier = 0;  // 0: the empty document a page starts with

  struct Timer {
    RunLoop::TimerId id;
    bool repeats;
  };
  std::map<long, Timer> timers;
  std::vector<std::shared_ptr<ResourceFetch>> fetches;

  std::vector<HTMLToken> tokens;
  std::size_t nextToken = 0;
  bool inBody = false;
  bool waitingForScript = false;
  bool parsing = false;
  bool parsed = false;
  bool complete = false;
  int pending = 0;  // frames and inserted scripts the load event waits for
  bool closed = false;

  void install(const std::vector<std::string>* messageHandlers);
  // What the page's services (storage, loading) may use of this document.
  DocumentServices services();
  void teardown();

  Result<JSValue> callDom(const char* name, const JSValueList& arguments);
  Result<JSValue> evaluate(const std::string& script, const std::string& sourceURL, int line);

  void startParsing();
  void continueParsing();
  void runParserScript(const HTMLToken& tag, const std::string& text);
  void finishParsing();
  void checkComplete();

  void loadScript(long scriptId, const std::string& url);
  void setTimer(long id, double milliseconds, bool repeats);
  void clearTimer(long id);
  void fireTimer(long id);
  // Local files load only into a page of local files.
  bool mayLoad(const NSURLPtr& resource) const;
  // headers: further HTTP header fields the page asked for (XMLHttpRequest, fetch).
  std::shared_ptr<ResourceFetch> fetch(const NSURLPtr& url, ResourceFetch::Completion completion,
                                       const HeaderFields& headers = {});
  void forget(const std::shared_ptr<ResourceFetch>& fetch);
};

struct HeadlessWebPage::Impl : std::enable_shared_from_this<HeadlessWebPage::Impl> {
  std::weak_ptr<WebPageClient> client;
  Configuration configuration;
  std::vector<std::string> handlerNames;
  std::shared_ptr<SessionStorage> sessionStorage = std::make_shared<SessionStorage>();
  std::shared_ptr<Document> document;
  // The empty document a page starts with is made only when something needs it (a script, a
  // frame): most pages replace it with their first load before anyone looks, and making it costs
  // a script context and the DOM stand-in, a good part of a launch.
  bool emptyDocumentPending = false;
  std::string emptyDocumentUserAgent;
  std::shared_ptr<MainLoad> main;  // the last top-level load allowed
  std::size_t waitingMessages = 0;  // script messages posted, not yet handed to the client
  std::size_t droppedMessages = 0;  // since none waited
  NSURLRequestPtr request;
  std::uint64_t nextIdentifier = 1;
  std::uint64_t navigationGeneration = 0;
  bool closed = false;

  // The session history as WebKit keeps it for a view: an entry for every document a load
  // brought (the empty first one excepted) and for every new fragment, the current one at
  // historyIndex, at most kMaxHistoryEntries (the oldest go first). A history move to an entry of
  // the document on show changes its address only; to another, it loads that entry's address
  // anew (WebKit keeps no pages in its cache here), decided like any load with the type
  // back-forward, and the entry becomes current when the load commits.
  static constexpr std::size_t kMaxHistoryEntries = 100;
  struct HistoryEntry {
    std::uint64_t serial = 0;
    NSURLPtr url;
    std::uint64_t document = 0;  // the load whose document shows it
    std::optional<std::string> readAccessPath;
    std::optional<std::string> html;
  };
  std::vector<HistoryEntry> history;
  std::size_t historyIndex = 0;
  std::uint64_t nextHistorySerial = 1;

  void report(std::function<void(WebPageClient&)> call) {
    RunLoop::main().post([weak = weak_from_this(), call = std::move(call)] {
      auto self = weak.lock();
      if (!self || self->closed) return;
      if (auto c = self->client.lock()) call(*c);
    });
  }

  std::shared_ptr<Document> makeDocument(const NSURLPtr& url, std::uint64_t loadIdentifier,
                                         const std::optional<std::string>& readAccessPath, const std::string& userAgent) {
    auto doc = std::make_shared<Document>();
    doc->page = weak_from_this();
    doc->url = url;
    doc->baseURL = url;
    doc->loadIdentifier = loadIdentifier;
    doc->readAccessPath = readAccessPath;
    doc->userAgent = userAgent;
    doc->install(configuration.scriptMessageHandlers ? &handlerNames : nullptr);
    return doc;
  }

  void replaceDocument(std::shared_ptr<Document> doc) {
    emptyDocumentPending = false;
    if (document) document->teardown();
    document = std::move(doc);
  }

  // The document on show, making the empty one first when it is still pending.
  const std::shared_ptr<Document>& currentDocument() {
    if (!document && emptyDocumentPending && !closed) {
      auto doc = makeDocument(NSURL::URLWithString("about:blank"), 0, std::nullopt, emptyDocumentUserAgent);
      doc->parsed = true;
      doc->complete = true;
      doc->callDom("setReadyState", {doc->js->makeString("complete")});
      replaceDocument(doc);
    }
    return document;
  }

  // ---- Navigations ------------------------------------------------------------------------------

  // Host and page navigations alike are decided on a later turn, as a browser schedules them;
  // stopLoading drops those not yet decided.
  std::uint64_t navigate(const NSURLRequestPtr& original, WebNavigationType type,
                         std::optional<std::string> readAccessPath, std::optional<std::string> html,
                         HistoryMove move = {}) {
    if (closed || !original || !original->URL()) return 0;
    if (hasScheme(original->URL(), "javascript")) {
      runJavaScriptURL(original->URL());
      return 0;
    }
    std::uint64_t identifier = nextIdentifier++;
    RunLoop::main().post([weak = weak_from_this(), identifier, original, type, readAccessPath, html, move,
                          generation = navigationGeneration] {
      auto self = weak.lock();
      if (self && !self->closed && generation == self->navigationGeneration)
        self->decideNavigation(identifier, original, type, readAccessPath, html, move);
    });
    return identifier;
  }

  void decideNavigation(std::uint64_t identifier, const NSURLRequestPtr& original, WebNavigationType type,
                        const std::optional<std::string>& readAccessPath, const std::optional<std::string>& html,
                        HistoryMove move) {
    if (!html && isSameDocument(original->URL(), type)) {
      navigateWithinDocument(original->URL(), move.replace);
      return;
    }
    auto c = client.lock();
    if (!c) return;
    NSURLRequestPtr request = withMainDocumentURL(original, original->URL());
    auto decided = std::make_shared<bool>(false);
    c->webPageDecidePolicy(
        WebNavigationAction{request, type, true, identifier},
        [weak = weak_from_this(), identifier, request, type, readAccessPath, html, move, decided](bool allow) {
          if (*decided) {
            NSLog("A navigation policy was decided more than once; the first decision stands.");
            return;
          }
          *decided = true;
          auto self = weak.lock();
          if (!self || self->closed || !allow) return;
          self->beginMainLoad(identifier, request, type, readAccessPath, html, move);
        });
  }

  void runJavaScriptURL(const NSURLPtr& url) {
    std::string code = percentDecode(url->resourceSpecifier()).value_or("");
    RunLoop::main().post([weak = weak_from_this(), code] {
      auto self = weak.lock();
      if (!self || self->closed || !self->currentDocument()) return;
      auto doc = self->document;
      doc->evaluate(code, "", 1);
    });
  }

  // A history move is within the document only by its entry (traverse), never by its address.
  bool isSameDocument(const NSURLPtr& url, WebNavigationType type) {
    if (type == WebNavigationType::Reload || type == WebNavigationType::BackForward || !url->fragment()) return false;
    if (hasScheme(url, "about")) currentDocument();
    if (!document) return false;
    if (document->loadIdentifier == 0 && !hasScheme(url, "about")) return false;
    return withoutFragment(url) == withoutFragment(document->url);
  }

  // A navigation within the document on show (a new fragment): its address changes at once and
  // nothing loads. It is not offered to the policy: WebKit asks about one synchronously and goes
  // ahead without waiting for the answer, so a page on it reads the new address at once and a
  // policy asked later could not stop it; the client hears of it as WebKit's engine reports it.
  void navigateWithinDocument(const NSURLPtr& url, bool replace = false) {
    auto doc = document;
    if (doc->loadIdentifier != 0) {
      if (replace && !history.empty())
        history[historyIndex].url = url;
      else
        addHistoryEntry(url, doc->loadIdentifier, doc->readAccessPath, std::nullopt);
    }
    moveWithinDocument(url);
  }

  void moveWithinDocument(const NSURLPtr& url) {
    auto doc = document;
    doc->url = url;
    doc->callDom("sameDocument", {doc->js->makeString(url->absoluteString())});
    report([url](WebPageClient& c) { c.webPageDidNavigateInPage(url); });
  }

  // ---- Session history --------------------------------------------------------------------------

  // A new entry after the current one; the entries that were ahead of it are dropped.
  void addHistoryEntry(const NSURLPtr& url, std::uint64_t documentLoad, const std::optional<std::string>& readAccessPath,
                       const std::optional<std::string>& html) {
    if (!history.empty()) history.erase(history.begin() + static_cast<std::ptrdiff_t>(historyIndex) + 1, history.end());
    history.push_back(HistoryEntry{nextHistorySerial++, url, documentLoad, readAccessPath, html});
    if (history.size() > kMaxHistoryEntries) history.erase(history.begin());
    historyIndex = history.size() - 1;
  }

  // Where a committed load's document goes in the history.
  void recordInHistory(const MainLoad& load, const NSURLPtr& url) {
    if (load.history.entry != 0) {
      for (std::size_t i = 0; i < history.size(); ++i) {
        if (history[i].serial != load.history.entry) continue;
        history[i].url = url;
        history[i].document = load.identifier;
        historyIndex = i;
        return;
      }
    }
    if ((load.type == WebNavigationType::Reload || load.history.replace) && !history.empty()) {
      HistoryEntry& entry = history[historyIndex];
      // A reloaded document keeps its place in the history: a move to another of its entries
      // stays within the new document, as WebKit does it.
      if (load.type == WebNavigationType::Reload)
        for (HistoryEntry& other : history)
          if (other.document == entry.document) other.document = load.identifier;
      entry = HistoryEntry{entry.serial, url, load.identifier, load.readAccessPath, load.html};
      return;
    }
    addHistoryEntry(url, load.identifier, load.readAccessPath, load.html);
  }

  // history.go(delta), on a later turn as a browser makes it: 0 reloads; past either end, nothing.
  void traverse(long delta) {
    RunLoop::main().post([weak = weak_from_this(), delta, generation = navigationGeneration] {
      auto self = weak.lock();
      if (!self || self->closed || generation != self->navigationGeneration) return;
      auto doc = self->currentDocument();
      if (!doc) return;
      if (delta == 0) {
        self->navigate(plainRequest(doc->url), WebNavigationType::Reload, doc->readAccessPath, std::nullopt);
        return;
      }
      long target = static_cast<long>(self->historyIndex) + delta;
      if (self->history.empty() || target < 0 || target >= static_cast<long>(self->history.size())) return;
      const HistoryEntry& entry = self->history[static_cast<std::size_t>(target)];
      if (entry.document == doc->loadIdentifier && doc->loadIdentifier != 0) {
        // An entry of the document on show: only its address changes, as for a new fragment.
        self->historyIndex = static_cast<std::size_t>(target);
        self->moveWithinDocument(entry.url);
        return;
      }
      self->navigate(plainRequest(entry.url), WebNavigationType::BackForward, entry.readAccessPath, entry.html,
                     HistoryMove{false, entry.serial});
    });
  }

  void beginMainLoad(std::uint64_t identifier, const NSURLRequestPtr& request, WebNavigationType type,
                     const std::optional<std::string>& readAccessPath, const std::optional<std::string>& html,
                     HistoryMove move) {
    if (!html && isSameDocument(request->URL(), type)) {
      navigateWithinDocument(request->URL(), move.replace);
      return;
    }
    endMainLoad(NSURLErrorWithCode(NSURLErrorCancelled, main ? main->request->URL() : nullptr));
    auto load = std::make_shared<MainLoad>();
    load->identifier = identifier;
    load->request = request;
    load->type = type;
    load->history = move;
    load->readAccessPath = readAccessPath;
    load->html = html;
    if (auto c = client.lock()) load->userAgent = c->webPageUserAgent();
    main = load;
    this->request = request;
    report([l = load->load()](WebPageClient& c) { c.webPageDidStartLoad(l); });

    if (html || hasScheme(request->URL(), "about")) {
      RunLoop::main().post([weak = weak_from_this(), load] {
        auto self = weak.lock();
        if (!self || self->closed || self->main != load || load->finished) return;
        std::string text = load->html.value_or("");
        auto response = NSURLResponse::responseWithURL(load->request->URL(), "text/html",
                                                       static_cast<std::int64_t>(text.size()), "utf-8");
        self->commit(load, response, Data(text.begin(), text.end()));
      });
      return;
    }
    NSURLRequestPtr fetchRequest = request;
    if ((hasScheme(request->URL(), "http") || hasScheme(request->URL(), "https")) &&
        !request->valueForHTTPHeaderField("User-Agent")) {
      auto copy = request->mutableCopy();
      copy->setValueForHTTPHeaderField(load->userAgent, "User-Agent");
      fetchRequest = copy;
    }
    load->fetch = ResourceFetch::start(
        fetchRequest, readAccessPath, kMaxResourceBytes,
        [weak = weak_from_this(), load](const NSURLResponsePtr& response, Data body, std::optional<NSError> error) {
          auto self = weak.lock();
          if (!self || self->closed || self->main != load || load->finished) return;
          load->fetch.reset();
          if (error) {
            load->finished = true;
            self->report([l = load->load(), e = *error](WebPageClient& c) { c.webPageDidFailLoad(l, e, true); });
            return;
          }
          self->commit(load, response, body);
        });
  }

  // Stops the top-level load in progress, which fails with the error.
  bool endMainLoad(const NSError& error) {
    if (!main || main->finished) return false;
    auto load = main;
    load->finished = true;
    if (load->fetch) {
      load->fetch->cancel();
      load->fetch.reset();
    }
    if (load->committed && document && document->loadIdentifier == load->identifier) {
      // What the document still loads is stopped with it; it will not fire its load event.
      for (auto& f : document->fetches) f->cancel();
      document->fetches.clear();
      document->complete = true;
    }
    bool provisional = !load->committed;
    report([l = load->load(), error, provisional](WebPageClient& c) { c.webPageDidFailLoad(l, error, provisional); });
    return true;
  }

  void commit(const std::shared_ptr<MainLoad>& load, const NSURLResponsePtr& response, const Data& body) {
    load->committed = true;
    NSURLPtr url = response && response->URL() ? response->URL() : load->request->URL();
    // A fragment of the request survives a response that does not name one.
    if (load->request->URL()->fragment() && !url->fragment())
      url = NSURL::URLWithString(url->absoluteString() + "#" + *load->request->URL()->fragment());
    auto doc = makeDocument(url, load->identifier, load->readAccessPath, load->userAgent);
    replaceDocument(doc);
    recordInHistory(*load, url);
    report([l = load->load()](WebPageClient& c) { c.webPageDidCommitLoad(l); });
    if (response && isHTMLType(response->MIMEType()))
      doc->tokens = tokenizeHTML(decodeText(body, response->textEncodingName()));
    // The page's scripts run on a later turn, after the commit has been reported.
    RunLoop::main().post([weak = std::weak_ptr<Document>(doc)] {
      if (auto d = weak.lock()) d->startParsing();
    });
  }

  void documentDidFinish(Document& doc) {
    if (!main || main->finished || doc.loadIdentifier != main->identifier || document.get() != &doc) return;
    main->finished = true;
    report([l = main->load()](WebPageClient& c) { c.webPageDidFinishLoad(l); });
  }

  // ---- Frames -----------------------------------------------------------------------------------

  // A frame's navigation. While the document has not fired its load event, the frame holds it
  // from the moment it asks until its load ends or is refused.
  void navigateFrame(const std::shared_ptr<Document>& doc, long frameId, const NSURLPtr& url,
                     std::optional<NSError> failure) {
    if (closed || doc != document || doc->closed) return;
    bool holdsLoad = !doc->complete;
    if (holdsLoad) ++doc->pending;
    auto release = [weakDoc = std::weak_ptr<Document>(doc), holdsLoad] {
      auto d = weakDoc.lock();
      if (!d || !holdsLoad) return;
      --d->pending;
      d->checkComplete();
    };
    RunLoop::main().post([weak = weak_from_this(), weakDoc = std::weak_ptr<Document>(doc), frameId, url, failure, release] {
      auto self = weak.lock();
      auto d = weakDoc.lock();
      if (!self || !d || !self->decideFrame(d, frameId, url, failure, release)) release();
    });
  }

  // False when the navigation was dropped without a decision.
  bool decideFrame(const std::shared_ptr<Document>& doc, long frameId, const NSURLPtr& url,
                   const std::optional<NSError>& failure, const std::function<void()>& release) {
    if (closed || doc != document || doc->closed) return false;
    auto c = client.lock();
    if (!c) return false;
    std::uint64_t identifier = nextIdentifier++;
    NSURLRequestPtr request = withMainDocumentURL(plainRequest(url), doc->url);
    auto decided = std::make_shared<bool>(false);
    c->webPageDecidePolicy(
        WebNavigationAction{request, WebNavigationType::Other, false, identifier},
        [weak = weak_from_this(), weakDoc = std::weak_ptr<Document>(doc), frameId, identifier, request, failure,
         decided, release](bool allow) {
          if (*decided) {
            NSLog("A navigation policy was decided more than once; the first decision stands.");
            return;
          }
          *decided = true;
          auto self = weak.lock();
          auto d = weakDoc.lock();
          if (self && d && allow && self->beginFrameLoad(d, frameId, WebLoad{identifier, false, request}, failure, release))
            return;
          release();
        });
    return true;
  }

  bool beginFrameLoad(const std::shared_ptr<Document>& doc, long frameId, const WebLoad& load,
                      const std::optional<NSError>& failure, const std::function<void()>& release) {
    if (closed || doc != document || doc->closed) return false;
    report([load](WebPageClient& c) { c.webPageDidStartLoad(load); });
    auto done = [weak = weak_from_this(), weakDoc = std::weak_ptr<Document>(doc), frameId, load,
                 release](std::optional<NSError> error) {
      auto self = weak.lock();
      auto d = weakDoc.lock();
      if (!self || !d || d->closed) return;
      if (error)
        self->report([load, e = *error](WebPageClient& c) { c.webPageDidFailLoad(load, e, false); });
      else
        self->report([load](WebPageClient& c) { c.webPageDidFinishLoad(load); });
      d->callDom("frameLoaded", {d->js->makeNumber(static_cast<double>(frameId))});
      release();
    };
    if (failure || hasScheme(load.request->URL(), "about")) {
      RunLoop::main().post([done, failure] { done(failure); });
      return true;
    }
    doc->fetch(load.request->URL(), [done](const NSURLResponsePtr&, Data, std::optional<NSError> error) { done(error); });
    return true;
  }

  // ---- Modal dialogs ----------------------------------------------------------------------------

  template <class T>
  T runModal(const char* what, T cancelAnswer, const std::function<void(std::function<void(T)>)>& ask) {
    struct State {
      bool answered = false;
      bool gaveUp = false;
      T answer{};
    };
    auto state = std::make_shared<State>();
    ask([state, what](T answer) {
      if (state->gaveUp) return;
      if (state->answered) {
        NSLogf("The page's %s was answered more than once; the first answer stands.", what);
        return;
      }
      state->answered = true;
      state->answer = std::move(answer);
    });
    if (RunLoop::main().isCurrentThread()) {
      for (std::size_t turns = 0; !state->answered && turns < kMaxModalTurns && RunLoop::main().hasReadyWork(); ++turns)
        RunLoop::main().runOneTurn();
    }
    if (!state->answered) {
      state->gaveUp = true;
      NSLogf("Nobody answered the page's %s; it gets the cancel answer.", what);
      return cancelAnswer;
    }
    return state->answer;
  }

  void alert(const std::string& message) {
    auto c = client.lock();
    if (!c) return;
    runModal<bool>("alert", true, [&](std::function<void(bool)> done) {
      c->webPageRunAlert(message, [done] { done(true); });
    });
  }
  bool confirm(const std::string& message) {
    auto c = client.lock();
    if (!c) return false;
    return runModal<bool>("confirm", false, [&](std::function<void(bool)> done) { c->webPageRunConfirm(message, done); });
  }
  std::optional<std::string> prompt(const std::string& message, const std::string& defaultText) {
    auto c = client.lock();
    if (!c) return std::nullopt;
    return runModal<std::optional<std::string>>(
        "prompt", std::nullopt,
        [&](std::function<void(std::optional<std::string>)> done) { c->webPageRunPrompt(message, defaultText, done); });
  }
};

// ---- Document ------------------------------------------------------------------------------------

void Document::install(const std::vector<std::string>* messageHandlers) {
  js = std::make_unique<JSContext>();
  std::weak_ptr<Document> weak = weak_from_this();
  JSValue native = js->makeObject();
  auto define = [&](const char* name, JSContext::NativeFunction f) { native.setProperty(name, js->makeFunction(name, std::move(f))); };

  // The page's texts are cut as WebKit's page script cuts them (plat/foundation/TextCut.h).
  define("log", [](const Array& a) {
    NSLog("console." + a.at(0).stringOr("log") + ": " + cutPageText(a.at(1).stringOr()));
    return Value();
  });
  define("resolveURL", [weak](const Array& a) -> Value {
    auto self = weak.lock();
    if (!self || !a.at(0).isString()) return Value::null();
    NSURLPtr url = resolvePageURL(a.at(0).asString(), self->baseURL);
    return url ? Value(url->absoluteString()) : Value::null();
  });
  define("urlParts", [](const Array& a) -> Value {
    NSURLPtr url = a.at(0).isString() ? NSURL::URLWithString(a.at(0).asString()) : nullptr;
    return locationParts(url);
  });
  define("navigate", [weak](const Array& a) {
    auto self = weak.lock();
    NSURLPtr url = a.at(0).isString() ? NSURL::URLWithString(a.at(0).asString()) : nullptr;
    if (!self || self->closed || !url) return Value();
    if (!self->mayLoad(url)) return Value();
    std::string kind = a.at(1).stringOr("other");
    WebNavigationType type = kind == "reload" ? WebNavigationType::Reload : WebNavigationType::Other;
    HistoryMove move{kind == "replace", 0};
    auto page = self->page.lock();
    if (!page || self != page->document) return Value();
    // A new fragment is taken at once (the page reads its new address right after setting it);
    // otherwise, like a browser, the page goes on running and the navigation starts on a later
    // turn.
    if (page->isSameDocument(url, type))
      page->navigateWithinDocument(url, move.replace);
    else
      page->navigate(plainRequest(url), type, self->readAccessPath, std::nullopt, move);
    return Value();
  });
  define("traverse", [weak](const Array& a) {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    double delta = a.at(0).isNumber() ? a.at(0).asDouble() : 0;
    if (page && !self->closed && self == page->document && std::isfinite(delta) && std::fabs(delta) < 1e9)
      page->traverse(static_cast<long>(delta));
    return Value();
  });
  define("historyLength", [weak](const Array&) {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    return Value(static_cast<std::int64_t>(page ? std::max<std::size_t>(1, page->history.size()) : 1));
  });
  define("navigateFrame", [weak](const Array& a) {
    auto self = weak.lock();
    NSURLPtr url = a.at(1).isString() ? NSURL::URLWithString(a.at(1).asString()) : nullptr;
    auto page = self ? self->page.lock() : nullptr;
    if (page && !self->closed && url) page->navigateFrame(self, static_cast<long>(a.at(0).asInt()), url, std::nullopt);
    return Value();
  });
  define("loadScript", [weak](const Array& a) {
    if (auto self = weak.lock()) self->loadScript(static_cast<long>(a.at(0).asInt()), a.at(1).stringOr());
    return Value();
  });
  define("setTimer", [weak](const Array& a) {
    if (auto self = weak.lock()) self->setTimer(static_cast<long>(a.at(0).asInt()), a.at(1).asDouble(), a.at(2).asBool());
    return Value();
  });
  define("clearTimer", [weak](const Array& a) {
    if (auto self = weak.lock()) self->clearTimer(static_cast<long>(a.at(0).asInt()));
    return Value();
  });
  define("alert", [weak](const Array& a) {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    if (page && !self->closed) page->alert(cutPageText(a.at(0).stringOr()));
    return Value();
  });
  define("confirm", [weak](const Array& a) {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    return Value(page && !self->closed && page->confirm(cutPageText(a.at(0).stringOr())));
  });
  define("prompt", [weak](const Array& a) -> Value {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    if (!page || self->closed) return Value::null();
    auto answer = page->prompt(cutPageText(a.at(0).stringOr()), cutPageText(a.at(1).stringOr()));
    return answer ? Value(*answer) : Value::null();
  });
  // A message's body reaches the host as WebKit carries it (plat/web/ScriptMessageBody.h), so a
  // page's message means the same under both engines; one WebKit would not send is not sent.
  messageBodies = std::make_unique<ScriptMessageBodyReader>(*js);
  native.setProperty("postMessage", js->makeFunction("postMessage", [weak](JSContext& context, const JSValue&,
                                                                          const JSValueList& a) {
    auto self = weak.lock();
    auto page = self ? self->page.lock() : nullptr;
    if (!page || self->closed || !self->messageBodies || a.empty()) return context.makeBool(false);
    // The page's script runs on the main thread, so what it posts in one run waits for it.
    if (page->waitingMessages >= ScriptMessageBodyReader::kMaxWaitingMessages) {
      if (page->droppedMessages++ == 0)
        NSLog("The page posts script messages faster than the container runs them; " +
              std::to_string(ScriptMessageBodyReader::kMaxWaitingMessages) +
              " wait, so its further messages are dropped until the container has caught up");
      return context.makeString("dropped");
    }
    std::string name = a[0].toString();
    std::optional<UnreadableBody> unreadable;
    std::optional<Value> body = self->messageBodies->read(a.size() > 1 ? a[1] : context.undefined(), &unreadable);
    if (!body || self->closed) return context.makeBool(false);
    ++page->waitingMessages;
    RunLoop::main().post([weakPage = std::weak_ptr<HeadlessWebPage::Impl>(page), name, body = std::make_shared<Value>(std::move(*body)),
                          unreadable] {
      auto page = weakPage.lock();
      if (!page) return;
      --page->waitingMessages;
      if (page->waitingMessages == 0 && page->droppedMessages > 0)
        NSLog(std::to_string(std::exchange(page->droppedMessages, 0)) +
              " script messages of the page were dropped while the container caught up");
      if (page->closed) return;
      if (auto c = page->client.lock()) c->webPageDidReceiveScriptMessage(name, std::move(*body), unreadable);
    });
    return context.makeBool(true);
  }));

  Array handlers;
  if (messageHandlers)
    for (const std::string& name : *messageHandlers) handlers.push_back(name);
  // The device's languages, as WebKit gives them to its pages: navigator.language, and Intl's
  // default locale.
  std::vector<std::string> languages = pageLanguages();
  setScriptLanguages(languages);
  Dictionary options{{"url", url ? url->absoluteString() : "about:blank"},
                     {"userAgent", userAgent},
                     {"platform", "iPhone"},
                     {"language", languages.empty() ? std::string("en") : languages.front()}};
  options.set("messageHandlers", messageHandlers ? Value(handlers) : Value(false));

  JSException exception;
  auto factory = js->evaluate(domScript(), "harbor-dom.js", 1, &exception);
  auto hooks = factory ? factory->call({native, js->makeValue(options)}, JSValue(), &exception) : Result<JSValue>(Failure{""});
  if (!hooks) {
    NSLog("The page engine could not set up a document: " + exception.description());
    return;
  }
  dom = *hooks;
  installWebStorage(*js, services());
  installXMLHttpRequest(*js, services());
}

DocumentServices Document::services() {
  std::weak_ptr<Document> weak = weak_from_this();
  DocumentServices s;
  s.url = [weak]() -> NSURLPtr {
    auto self = weak.lock();
    return self ? self->url : nullptr;
  };
  s.resolve = [weak](const std::string& text) -> NSURLPtr {
    auto self = weak.lock();
    return self ? resolvePageURL(text, self->baseURL) : nullptr;
  };
  s.fetch = [weak](const NSURLPtr& resource, const HeaderFields& headers,
                   ResourceFetch::Completion completion) -> std::shared_ptr<ResourceFetch> {
    auto self = weak.lock();
    if (!self || self->closed) return nullptr;
    return self->fetch(resource, std::move(completion), headers);
  };
  s.enter = [weak]() -> std::shared_ptr<void> {
    auto self = weak.lock();
    return self && !self->closed ? self : nullptr;
  };
  if (auto p = page.lock()) s.sessionStorage = p->sessionStorage;
  return s;
}

void Document::teardown() {
  if (closed) return;
  closed = true;
  for (auto& [id, timer] : timers) RunLoop::main().cancelTimer(timer.id);
  timers.clear();
  for (auto& f : fetches) f->cancel();
  fetches.clear();
}

Result<JSValue> Document::callDom(const char* name, const JSValueList& arguments) {
  if (!dom.isObject()) return Failure{"no document"};
  auto keep = shared_from_this();
  JSException exception;
  auto result = dom.property(name).call(arguments, dom, &exception);
  if (!result) NSLog("JavaScript error: " + exception.description());
  return result;
}

Result<JSValue> Document::evaluate(const std::string& script, const std::string& sourceURL, int line) {
  auto keep = shared_from_this();
  JSException exception;
  auto result = js->evaluate(script, sourceURL, line, &exception);
  if (!result) NSLog("JavaScript error: " + exception.description());
  return result;
}

void Document::startParsing() {
  if (closed || parsing || parsed) return;
  continueParsing();
}

void Document::continueParsing() {
  if (closed || parsed) return;
  auto keep = shared_from_this();
  parsing = true;
  while (!closed && !waitingForScript && nextToken < tokens.size()) {
    const HTMLToken& token = tokens[nextToken++];
    if (token.kind != HTMLToken::Kind::StartTag) continue;
    std::string text;
    if (nextToken < tokens.size() && tokens[nextToken].kind == HTMLToken::Kind::Text &&
        (token.name == "script" || token.name == "title" || token.name == "iframe")) {
      text = tokens[nextToken++].text;
    }
    const std::string& name = token.name;
    if (name == "script") {
      runParserScript(token, text);
      continue;
    }
    if (name == "title") {
      callDom("setTitle", {js->makeString(text)});
      continue;
    }
    if (name == "base") {
      const std::string* href = token.attribute("href");
      if (href && !baseFromMarkup) {
        if (NSURLPtr base = resolvePageURL(*href, url)) {
          baseURL = base;
          baseFromMarkup = true;
        }
      }
      continue;
    }
    static const char* const headOnly[] = {"html", "head", "meta", "link", "style", "noscript", "template"};
    bool inHead = std::any_of(std::begin(headOnly), std::end(headOnly), [&](const char* n) { return name == n; });
    if (!inHead) inBody = true;
    if (name == "body") {
      callDom("ensureBody", {});
      continue;
    }
    if (name == "iframe" || token.attribute("id")) {
      JSValueList attributes;
      for (const HTMLAttribute& a : token.attributes)
        attributes.push_back(js->makeArray({js->makeString(a.name), js->makeString(a.value)}));
      callDom("parserElement", {js->makeString(name), js->makeArray(attributes), js->makeBool(inBody)});
    }
  }
  parsing = false;
  if (!closed && !waitingForScript && nextToken >= tokens.size()) finishParsing();
}

void Document::runParserScript(const HTMLToken& tag, const std::string& text) {
  JSValueList attributes;
  for (const HTMLAttribute& a : tag.attributes)
    attributes.push_back(js->makeArray({js->makeString(a.name), js->makeString(a.value)}));
  auto created = callDom("parserElement", {js->makeString("script"), js->makeArray(attributes), js->makeBool(inBody)});
  double scriptId = created ? created->toNumber() : 0;
  if (!isClassicScriptType(tag.attribute("type"))) return;
  const std::string* src = tag.attribute("src");
  if (!src) {
    callDom("beginScript", {js->makeNumber(scriptId)});
    evaluate(text, url ? url->absoluteString() : "", tag.line);
    callDom("endScript", {js->makeNumber(scriptId)});
    return;
  }
  NSURLPtr scriptURL = src->empty() ? nullptr : resolvePageURL(*src, baseURL);
  if (!scriptURL) {
    callDom("scriptDone", {js->makeNumber(scriptId), js->makeBool(false)});
    return;
  }
  // The parser waits for the script, so scripts run in document order.
  waitingForScript = true;
  std::weak_ptr<Document> weak = weak_from_this();
  fetch(scriptURL, [weak, scriptId, scriptURL](const NSURLResponsePtr& response, Data body, std::optional<NSError> error) {
    auto self = weak.lock();
    if (!self || self->closed) return;
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    bool ok = !error && (!http || http->statusCode() < 400);
    if (ok) {
      self->callDom("beginScript", {self->js->makeNumber(scriptId)});
      self->evaluate(decodeText(body, response ? response->textEncodingName() : std::nullopt), scriptURL->absoluteString(), 1);
    } else {
      NSLog("Failed to load script " + scriptURL->absoluteString() +
            (error ? ": " + error->localizedDescription : ": status " + std::to_string(http->statusCode())));
    }
    self->callDom("scriptDone", {self->js->makeNumber(scriptId), self->js->makeBool(ok)});
    self->waitingForScript = false;
    self->continueParsing();
  });
}

void Document::finishParsing() {
  parsed = true;
  callDom("ensureBody", {});
  callDom("setReadyState", {js->makeString("interactive")});
  // The load event comes on a later turn, as in a browser.
  RunLoop::main().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->checkComplete();
  });
}

void Document::checkComplete() {
  if (closed || !parsed || complete || pending > 0) return;
  complete = true;
  auto keep = shared_from_this();
  callDom("setReadyState", {js->makeString("complete")});
  if (auto p = page.lock(); p && !closed) p->documentDidFinish(*this);
}

void Document::loadScript(long scriptId, const std::string& text) {
  NSURLPtr scriptURL = NSURL::URLWithString(text);
  bool holdsLoad = !complete;
  if (holdsLoad) ++pending;
  std::weak_ptr<Document> weak = weak_from_this();
  auto done = [weak, scriptId, scriptURL, holdsLoad](const NSURLResponsePtr& response, Data body,
                                                      std::optional<NSError> error) {
    auto self = weak.lock();
    if (!self || self->closed) return;
    auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
    bool ok = !error && (!http || http->statusCode() < 400);
    if (ok) {
      self->callDom("beginScript", {self->js->makeNumber(static_cast<double>(scriptId))});
      self->evaluate(decodeText(body, response ? response->textEncodingName() : std::nullopt), scriptURL->absoluteString(), 1);
    } else if (scriptURL) {
      NSLog("Failed to load script " + scriptURL->absoluteString() +
            (error ? ": " + error->localizedDescription : ": status " + std::to_string(http->statusCode())));
    }
    self->callDom("scriptDone", {self->js->makeNumber(static_cast<double>(scriptId)), self->js->makeBool(ok)});
    if (holdsLoad) {
      --self->pending;
      self->checkComplete();
    }
  };
  if (!scriptURL) {
    RunLoop::main().post([done] { done(nullptr, Data(), NSURLErrorWithCode(NSURLErrorBadURL)); });
    return;
  }
  fetch(scriptURL, done);
}

bool Document::mayLoad(const NSURLPtr& resource) const {
  if (!resource || !resource->isFileURL() || (url && url->isFileURL())) return true;
  NSLog("Not allowed to load local resource: " + resource->absoluteString());
  return false;
}

std::shared_ptr<ResourceFetch> Document::fetch(const NSURLPtr& resource, ResourceFetch::Completion completion,
                                               const HeaderFields& headers) {
  std::weak_ptr<Document> weak = weak_from_this();
  if (!mayLoad(resource)) {
    // Only a page of local files reads local files.
    NSError refused = NSURLErrorWithCode(NSURLErrorNoPermissionsToReadFile, resource);
    RunLoop::main().post([completion, refused] { completion(nullptr, Data(), refused); });
    return nullptr;
  }
  NSURLRequestPtr request = plainRequest(resource);
  if (hasScheme(resource, "http") || hasScheme(resource, "https")) {
    auto withAgent = request->mutableCopy();
    withAgent->setValueForHTTPHeaderField(userAgent, "User-Agent");
    for (const auto& [name, value] : headers) withAgent->setValueForHTTPHeaderField(value, name);
    request = withAgent;
  }
  auto holder = std::make_shared<std::weak_ptr<ResourceFetch>>();
  auto f = ResourceFetch::start(request, readAccessPath, HeadlessWebPage::kMaxResourceBytes,
                                [weak, holder, completion](const NSURLResponsePtr& r, Data body, std::optional<NSError> e) {
                                  if (auto self = weak.lock()) self->forget(holder->lock());
                                  completion(r, std::move(body), std::move(e));
                                });
  *holder = f;
  fetches.push_back(f);
  return f;
}

void Document::forget(const std::shared_ptr<ResourceFetch>& f) {
  std::erase(fetches, f);
}

void Document::setTimer(long id, double milliseconds, bool repeats) {
  if (closed || JSContext::scriptsStopped()) return;
  double delay = std::max(0.0, milliseconds) / 1000.0;
  // A repeating timer of no delay still waits a moment between turns, so it cannot starve the loop.
  double interval = repeats ? std::max(milliseconds, 1.0) / 1000.0 : 0;
  std::weak_ptr<Document> weak = weak_from_this();
  RunLoop::TimerId timer = RunLoop::main().scheduleTimer(
      delay,
      [weak, id] {
        if (auto self = weak.lock()) self->fireTimer(id);
      },
      interval);
  timers[id] = Timer{timer, repeats};
}

void Document::clearTimer(long id) {
  auto it = timers.find(id);
  if (it == timers.end()) return;
  RunLoop::main().cancelTimer(it->second.id);
  timers.erase(it);
}

void Document::fireTimer(long id) {
  if (closed) return;
  if (JSContext::scriptsStopped()) {
    // The process is ending: a page whose timers start more timers would keep the run loop
    // busy forever and termination could never finish.
    for (auto& [timerId, timer] : timers) RunLoop::main().cancelTimer(timer.id);
    timers.clear();
    return;
  }
  auto it = timers.find(id);
  if (it == timers.end()) return;
  if (!it->second.repeats) timers.erase(it);
  callDom("fireTimer", {js->makeNumber(static_cast<double>(id))});
}

// ---- HeadlessWebPage ---------------------------------------------------------------------------------------

HeadlessWebPage::HeadlessWebPage() : impl_(std::make_shared<Impl>()) {}

HeadlessWebPage::~HeadlessWebPage() { close(); }

void HeadlessWebPage::initWithClient(const std::shared_ptr<WebPageClient>& client, Configuration configuration) {
  impl_->client = client;
  impl_->configuration = configuration;
  impl_->emptyDocumentUserAgent = client ? client->webPageUserAgent() : std::string();
  impl_->emptyDocumentPending = true;
}

void HeadlessWebPage::close() {
  if (impl_->closed) return;
  impl_->endMainLoad(NSURLErrorWithCode(NSURLErrorCancelled));
  impl_->closed = true;
  if (impl_->document) impl_->document->teardown();
}

std::uint64_t HeadlessWebPage::loadRequest(const NSURLRequestPtr& request, std::optional<std::string> readAccessPath) {
  assert(isMainThread() && "web pages are main-thread objects");
  return impl_->navigate(request, WebNavigationType::Other, std::move(readAccessPath), std::nullopt);
}

std::uint64_t HeadlessWebPage::loadHTMLString(const std::string& html, const NSURLPtr& baseURL,
                                      std::optional<std::string> readAccessPath) {
  NSURLPtr url = baseURL ? baseURL : NSURL::URLWithString("about:blank");
  return impl_->navigate(plainRequest(url), WebNavigationType::Other, std::move(readAccessPath), html);
}

std::uint64_t HeadlessWebPage::reload() {
  if (!impl_->request) return 0;
  return impl_->navigate(impl_->request, WebNavigationType::Reload, impl_->main ? impl_->main->readAccessPath : std::nullopt,
                  impl_->main ? impl_->main->html : std::nullopt);
}

void HeadlessWebPage::stopLoading() {
  ++impl_->navigationGeneration;
  impl_->endMainLoad(NSURLErrorWithCode(NSURLErrorCancelled, impl_->main ? impl_->main->request->URL() : nullptr));
}

NSURLPtr HeadlessWebPage::URL() const {
  auto& doc = impl_->document;
  return doc && doc->loadIdentifier != 0 ? doc->url : nullptr;
}

NSURLRequestPtr HeadlessWebPage::request() const { return impl_->request; }

bool HeadlessWebPage::isLoading() const { return impl_->main && !impl_->main->finished; }

std::string HeadlessWebPage::title() {
  auto result = evaluate("document.title");
  return result ? result->toString() : std::string();
}

Result<JSValue> HeadlessWebPage::evaluate(const std::string& script, JSException* exception) {
  assert(isMainThread() && "web pages are main-thread objects");
  auto doc = impl_->currentDocument();
  if (!doc || !doc->js) return Failure{"no document"};
  return doc->js->evaluate(script, {}, 1, exception);
}

JSContext& HeadlessWebPage::context() { return *impl_->currentDocument()->js; }

void HeadlessWebPage::setScriptMessageHandlerNames(std::vector<std::string> names) {
  impl_->handlerNames = std::move(names);
  auto doc = impl_->document;
  if (!doc || !doc->js || doc->closed) return;
  JSValueList list;
  for (const std::string& name : impl_->handlerNames) list.push_back(doc->js->makeString(name));
  doc->callDom("setMessageHandlers", {doc->js->makeArray(list)});
}

void HeadlessWebPage::simulateLinkClick(const NSURLPtr& url) {
  impl_->navigate(plainRequest(url), WebNavigationType::LinkClicked,
                  impl_->document ? impl_->document->readAccessPath : std::nullopt, std::nullopt);
}

void HeadlessWebPage::simulateFrameLoad(const NSURLPtr& url, std::optional<NSError> failure) {
  if (impl_->currentDocument()) impl_->navigateFrame(impl_->document, 0, url, std::move(failure));
}

bool HeadlessWebPage::simulateFailure(const NSError& error) { return impl_->endMainLoad(error); }

Result<bool> HeadlessWebPage::writeSnapshotPNG(const std::string&, const std::vector<Backdrop>&) {
  return Failure{"the headless page engine draws nothing; a screenshot needs the WebKit engine"};
}

}  // namespace plat::web
