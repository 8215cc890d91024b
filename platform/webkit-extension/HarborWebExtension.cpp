// Loaded by WebKit into every web content process of the WebKit page engine. A page's code runs
// in these processes, so what they let it do, it does; the extension holds two doors:
// - Files: every request a page makes (its document, scripts, modules, images, media, frames,
//   XMLHttpRequest, fetch, and those of its dedicated workers, which load through the page) for
//   a file URL is cancelled unless the file, with its links resolved, lies inside one of the
//   roots the engine gave the process (the sandbox home and the application bundle) and, when
//   the engine gave the page a read-access folder or file, inside that too
//   (plat/web/ReadableFiles.h). Without roots nothing of file: loads.
// - The bridge: the main frame, and a frame whose URL the engine allowed (it tells the extension
//   before each allowed navigation), post to window.webkit.messageHandlers as WebKit made them;
//   any other frame's messages are dropped, and the engine logs that once per document.
// - The runner's memory: WebKit's UI side, the runner, makes many copies of every address the
//   page takes, and every history entry holds the addresses of all the page's frames, so a page
//   setting long fragments in a loop would grow the runner by gigabytes. Each time the main
//   frame's address changes (history.pushState included, which WebKit asks nobody about), what
//   its history entry holds, the addresses of the page and of every frame, is counted, as it
//   happens (the runner takes it in later); past the bound (plat/web/RecentAddresses.h: the last
//   navigations and those of the last seconds) the page's process ends at once, with the reason on
//   the runner's log, and the engine's bound on reloads applies. The engine counts the frames' own
//   navigations, which WebKit asks it about.
// - The runner's memory again: a page posting to the bridge in a loop sends faster than the
//   container runs its messages, and WebKit keeps in the runner what it has not yet handed over.
//   A page may have kMaxWaitingMessages messages waiting (posted, and not yet run as far as the
//   engine has said, "harbor-messages-run"); past that its further messages are dropped in the
//   page, and the engine hears of it once, and of how many were dropped once it has caught up.
//   A message WebKit cannot copy never leaves the page: at the bound, and as a document starts,
//   the engine is asked how many arrived ("harbor-messages-posted"), and those that never will
//   count no more.
// - Calls and evaluations: the engine calls a function of the top-level document
//   (plat/web/WebPage.h, callFunctionAsync) through a message to this process: the function is
//   made once per document and body, and called with the arguments read as JSON, so a call the
//   bridge makes for every answer is not compiled anew each time. The engine's scripts come the
//   same way: run from here they carry no user's gesture, which WebKit would give every script a
//   view evaluates. Both reach the document in the order they were sent.
// It also runs the engine's page script in every document, out of the page's reach (its console
// and frame announcements reach the engine through the extension, never through a handler the
// page could post to itself), hands WebKit's own console messages on, each cut as every page
// text is (plat/foundation/TextCut.h), and tells the engine which process each page runs in.
//
// Kept free of the container's code: it runs inside WebKit's processes, not ours.
#include <webkit2/webkit-web-extension.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plat/foundation/TextCut.h"
#include "plat/web/BoundedJSON.h"
#include "plat/web/ReadableFiles.h"
#include "plat/web/RecentAddresses.h"
#include "plat/web/ScriptMessageBody.h"

namespace {

WebKitWebExtension* gExtension = nullptr;
std::vector<std::string> gRoots;
// The engine's page script (page.js): a function of `post`, run in every top-level document.
std::string gPageScript;
// Per page (by its identifier): the read-access path the engine sent ("" reads no files).
std::map<guint64, std::string> gReadAccess;
// Per page: the URLs of the navigations the engine allowed last (a frame's document at one of
// them gets the bridge).
std::map<guint64, std::deque<std::string>> gAllowed;
constexpr std::size_t kAllowedKept = 256;
// Per page: the addresses its last navigations hold, and the frames it has (each frame's address
// is held by every history entry of the page).
std::map<guint64, plat::web::RecentAddresses> gAddresses;
std::map<guint64, std::set<WebKitFrame*>> gFrames;
// Per page: the functions of its top-level document the engine called, by body, and the reader
// of their results (held until the document goes).
constexpr std::size_t kFunctionsKept = 16;
struct Functions {
  JSCContext* context = nullptr;
  std::map<std::string, JSCValue*> byBody;
  JSCValue* reader = nullptr;
  void clear() {
    for (auto& entry : byBody) g_object_unref(entry.second);
    byBody.clear();
    if (reader) g_object_unref(reader);
    reader = nullptr;
    if (context) g_object_unref(context);
    context = nullptr;
  }
};
std::map<guint64, Functions> gFunctions;
// Per page: script messages posted and not yet run by the container, and those dropped since
// the engine last heard of it. A message WebKit cannot copy (a function, a symbol, a throwing
// getter) is never sent, and the page hears of nothing (its promise never settles): the engine
// says how many messages reached it, and what was posted before the question but never reached
// it waits nowhere. The count is the page's, whatever document posted: what an earlier document
// left waiting in the runner is run, and counted down, before the next document's messages.
constexpr std::size_t kMaxWaitingMessages = plat::web::ScriptMessageBodyReader::kMaxWaitingMessages;
struct Flow {
  std::size_t waiting = 0;      // posted, and neither run nor known never to have been sent
  std::size_t dropped = 0;
  std::uint64_t posted = 0;     // ever, in this process
  std::uint64_t neverSent = 0;  // of those, as the engine's last answer showed
  std::optional<std::uint64_t> asked;  // posted when the engine was asked, until it answers
};
std::map<guint64, Flow> gFlow;

void tellView(WebKitWebPage* page, const char* name, GVariant* parameters) {
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr, nullptr, nullptr);
}

// The engine hears, once the page can post again, how many of its messages were dropped.
void caughtUp(WebKitWebPage* page, Flow& flow) {
  if (flow.dropped == 0 || flow.waiting >= kMaxWaitingMessages) return;
  tellView(page, "harbor-dropped-messages", g_variant_new_uint64(flow.dropped));
  flow.dropped = 0;
}

// Asks the engine how many of the page's messages reached it ("harbor-messages-posted", with the
// number posted so far): the question leaves after every message posted before it, so what did
// not arrive before it never will. One question at a time.
void askWhatArrived(WebKitWebPage* page) {
  guint64 id = webkit_web_page_get_id(page);
  Flow& flow = gFlow[id];
  if (flow.asked) return;
  flow.asked = flow.posted;
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new("harbor-messages-posted", g_variant_new_uint64(flow.posted)), nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        WebKitUserMessage* reply = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, nullptr);
        GVariant* parameters = reply ? webkit_user_message_get_parameters(reply) : nullptr;
        auto found = gFlow.find(GPOINTER_TO_SIZE(data));
        if (found != gFlow.end()) {
          Flow& flow = found->second;
          std::uint64_t asked = flow.asked.value_or(0);
          flow.asked.reset();
          if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT64)) {
            std::uint64_t arrived = g_variant_get_uint64(parameters);
            std::uint64_t neverSent = asked > arrived ? asked - arrived : 0;
            if (neverSent > flow.neverSent) {
              flow.waiting -= std::min<std::uint64_t>(flow.waiting, neverSent - flow.neverSent);
              flow.neverSent = neverSent;
            }
            caughtUp(WEBKIT_WEB_PAGE(source), flow);
          }
        }
        if (reply) g_object_unref(reply);
      },
      GSIZE_TO_POINTER(id));
}

gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
  const char* uri = webkit_uri_request_get_uri(request);
  if (!uri || g_ascii_strncasecmp(uri, "file:", 5) != 0) return FALSE;
  auto access = gReadAccess.find(webkit_web_page_get_id(page));
  std::optional<std::string> readAccess;
  if (access != gReadAccess.end()) readAccess = access->second;
  if (plat::web::readable::mayReadFile(uri, gRoots, readAccess)) return FALSE;
  // The engine logs the refusal in the container's log.
  tellView(page, "harbor-refused-read", g_variant_new_string(uri));
  return TRUE;  // cancelled
}

// What the engine keeps in the page's top-level document, for the document on show.
Functions& documentFunctions(WebKitWebPage* page) {
  Functions& functions = gFunctions[webkit_web_page_get_id(page)];
  JSCContext* context = webkit_frame_get_js_context(webkit_web_page_get_main_frame(page));
  if (context != functions.context) {
    functions.clear();
    functions.context = context;
  } else {
    g_object_unref(context);
  }
  return functions;
}

// An exception as the page would print it ("TypeError: ..."), cut as every page text is: the
// page chooses what it throws, and a value it returns is bounded too.
std::string exceptionText(JSCException* exception) {
  const char* name = jsc_exception_get_name(exception);
  const char* message = jsc_exception_get_message(exception);
  return plat::cutPageText((name && *name ? std::string(name) + ": " : std::string()) + (message ? message : ""));
}

// The function of the page's top-level document with the body and parameters, made once.
JSCValue* documentFunction(WebKitWebPage* page, const std::string& body, const std::vector<std::string>& parameters,
                           std::string& error) {
  Functions& functions = documentFunctions(page);
  std::string key = body;
  for (const std::string& name : parameters) key += '\0' + name;
  auto found = functions.byBody.find(key);
  if (found != functions.byBody.end()) return found->second;
  if (functions.byBody.size() >= kFunctionsKept) {
    for (auto& entry : functions.byBody) g_object_unref(entry.second);
    functions.byBody.clear();
  }
  std::string source = "(function (";
  for (std::size_t i = 0; i < parameters.size(); ++i) source += (i ? ", " : "") + parameters[i];
  source += ") {\n" + body + "\n})";
  JSCValue* function = jsc_context_evaluate(functions.context, source.c_str(), static_cast<gssize>(source.size()));
  if (!function || !jsc_value_is_function(function)) {
    JSCException* exception = jsc_context_get_exception(functions.context);
    error = exception ? exceptionText(exception) : "the function could not be made";
    jsc_context_clear_exception(functions.context);
    if (function) g_object_unref(function);
    return nullptr;
  }
  functions.byBody.emplace(std::move(key), function);
  return function;
}

// The reader for a result in the context: the document's own, made once per document, or one
// made for it (a new reference either way).
JSCValue* readerFor(WebKitWebPage* page, JSCContext* context) {
  Functions& functions = gFunctions[webkit_web_page_get_id(page)];
  // What it cannot read is answered 'n' here: no head is asked of it.
  if (functions.context != context) return plat::web::makeBoundedJSONReader(context, false);
  if (!functions.reader) functions.reader = plat::web::makeBoundedJSONReader(context, false);
  return functions.reader ? static_cast<JSCValue*>(g_object_ref(functions.reader)) : nullptr;
}

// What the engine is answered for a result of the document's script (kind, text): 'v' and the
// result's JSON, 'd' and a number's text (JSON has no NaN or infinities), 'u' (undefined), 'n' (a
// result without a JSON form, a DOM node, or one past the bounds the engine reads values in: it
// is read here, within them, so that neither this process nor the runner makes a copy the engine
// would refuse), or 'x' and the exception's message.
std::pair<char, std::string> answerOf(WebKitWebPage* page, JSCContext* context, JSCValue* result) {
  std::pair<char, std::string> answer{'n', ""};
  if (JSCException* exception = jsc_context_get_exception(context)) {
    answer = {'x', exceptionText(exception)};
  } else if (!result || jsc_value_is_undefined(result)) {
    answer.first = 'u';
  } else if (jsc_value_is_number(result)) {
    char text[G_ASCII_DTOSTR_BUF_SIZE];
    answer = {'d', g_ascii_dtostr(text, sizeof text, jsc_value_to_double(result))};
  } else if (jsc_value_is_object(result) && jsc_value_object_is_instance_of(result, "Node")) {
    jsc_context_clear_exception(context);  // a DOM node has no value form, as WebKit's evaluation has it
  } else if (JSCValue* reader = readerFor(page, context)) {
    JSCValue* read = jsc_value_function_call(reader, JSC_TYPE_VALUE, result, G_TYPE_NONE);
    jsc_context_clear_exception(context);
    // The reader gives a string as itself (well formed); the engine reads JSON.
    char* json = nullptr;
    if (read && jsc_value_is_string(read)) json = jsc_value_is_string(result) ? jsc_value_to_json(read, 0) : jsc_value_to_string(read);
    if (json && std::strlen(json) <= plat::web::ScriptMessageBodyReader::kMaxTextBytes) answer = {'v', json};
    g_free(json);
    if (read) g_object_unref(read);
    g_object_unref(reader);
  }
  jsc_context_clear_exception(context);
  return answer;
}

void reply(WebKitUserMessage* message, const std::pair<char, std::string>& answer) {
  webkit_user_message_send_reply(
      message, webkit_user_message_new(webkit_user_message_get_name(message),
                                       g_variant_new("(ys)", static_cast<guchar>(answer.first), answer.second.c_str())));
}

// "harbor-call" (body, parameter names, arguments as JSON, whether the engine wants the result):
// answered, when wanted, as answerOf says.
void callFunction(WebKitWebPage* page, WebKitUserMessage* message, GVariant* parameters) {
  const char* body = nullptr;
  GVariantIter* names = nullptr;
  GVariantIter* texts = nullptr;
  gboolean wantsResult = FALSE;
  g_variant_get(parameters, "(&sasasb)", &body, &names, &texts, &wantsResult);
  std::vector<std::string> parameterNames;
  const char* text = nullptr;
  while (g_variant_iter_loop(names, "&s", &text)) parameterNames.emplace_back(text);
  std::vector<std::string> arguments;
  while (g_variant_iter_loop(texts, "&s", &text)) arguments.emplace_back(text);
  g_variant_iter_free(names);
  g_variant_iter_free(texts);

  std::pair<char, std::string> answer{'x', ""};
  if (JSCValue* made = documentFunction(page, body, parameterNames, answer.second)) {
    // Held for the call: the page's script may start another document meanwhile, which empties
    // the cache.
    JSCValue* function = static_cast<JSCValue*>(g_object_ref(made));
    JSCContext* context = static_cast<JSCContext*>(g_object_ref(jsc_value_get_context(function)));
    std::vector<JSCValue*> values;
    for (const std::string& json : arguments) {
      JSCValue* value = jsc_value_new_from_json(context, json.c_str());
      jsc_context_clear_exception(context);
      values.push_back(value ? value : jsc_value_new_undefined(context));
    }
    jsc_context_clear_exception(context);  // only the call's own is answered
    JSCValue* result = jsc_value_function_callv(function, static_cast<guint>(values.size()), values.data());
    for (JSCValue* value : values) g_object_unref(value);
    answer = answerOf(page, context, result);
    if (result) g_object_unref(result);
    g_object_unref(context);
    g_object_unref(function);
  }
  if (wantsResult) reply(message, answer);
}

// "harbor-evaluate" (the script's bytes, whether the engine wants the result): the script run in
// the top-level document, answered, when wanted, as answerOf says. Run from here, not by the view
// (webkit_web_view_evaluate_javascript), because WebKit runs a view's scripts as if the user had
// just acted on the page: whatever the container evaluated (every answer of the bridge under the
// UIWebView engine) would let the page open choosers and windows and read the clipboard.
void evaluateScript(WebKitWebPage* page, WebKitUserMessage* message, GVariant* parameters) {
  GVariant* bytes = nullptr;
  gboolean wantsResult = FALSE;
  g_variant_get(parameters, "(@ayb)", &bytes, &wantsResult);
  gsize length = 0;
  const char* script = static_cast<const char*>(g_variant_get_fixed_array(bytes, &length, 1));
  JSCContext* context = static_cast<JSCContext*>(g_object_ref(documentFunctions(page).context));
  jsc_context_clear_exception(context);  // only this script's own is answered
  JSCValue* result = jsc_context_evaluate(context, script ? script : "", static_cast<gssize>(length));
  std::pair<char, std::string> answer = answerOf(page, context, result);
  if (result) g_object_unref(result);
  g_object_unref(context);
  g_variant_unref(bytes);
  if (wantsResult) reply(message, answer);
}

// "harbor-read-access" (a string): the folder or file the page's file loads are confined to.
// "harbor-allowed-frame" (a string): a URL the engine allowed a navigation to.
// "harbor-call": a call of a function of the top-level document (callFunction).
// "harbor-evaluate": a script run in the top-level document (evaluateScript).
gboolean onUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  const char* name = webkit_user_message_get_name(message);
  GVariant* parameters = webkit_user_message_get_parameters(message);
  bool string = parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_STRING);
  guint64 id = webkit_web_page_get_id(page);
  if (g_strcmp0(name, "harbor-read-access") == 0) {
    if (string)
      gReadAccess[id] = g_variant_get_string(parameters, nullptr);
    else
      gReadAccess.erase(id);
    return TRUE;
  }
  if (g_strcmp0(name, "harbor-call") == 0 && parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sasasb)"))) {
    callFunction(page, message, parameters);
    return TRUE;
  }
  if (g_strcmp0(name, "harbor-evaluate") == 0 && parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ayb)"))) {
    evaluateScript(page, message, parameters);
    return TRUE;
  }
  if (g_strcmp0(name, "harbor-messages-run") == 0 && parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT64)) {
    Flow& flow = gFlow[id];
    flow.waiting -= std::min<std::size_t>(flow.waiting, g_variant_get_uint64(parameters));
    caughtUp(page, flow);
    return TRUE;
  }
  if (g_strcmp0(name, "harbor-allowed-frame") == 0 && string) {
    auto& allowed = gAllowed[id];
    allowed.emplace_back(g_variant_get_string(parameters, nullptr));
    if (allowed.size() > kAllowedKept) allowed.pop_front();
    return TRUE;
  }
  return FALSE;
}

bool allowedFrame(guint64 page, const char* uri) {
  if (!uri) return false;
  auto allowed = gAllowed.find(page);
  if (allowed == gAllowed.end()) return false;
  for (const std::string& url : allowed->second)
    if (url == uri) return true;
  return false;
}

// Run in the realm of a frame the engine did not allow, before its scripts: window.webkit is
// WebKit's and cannot be replaced, but the handlers' postMessage lives on their prototype in
// this realm, so every message is dropped there, and the first reported. (A frame reaching
// another realm of its origin reaches a document of the same origin, which could post itself.)
constexpr char kFrameHandlers[] = R"JS((function (report) {
  var handlers = window.webkit && window.webkit.messageHandlers;
  var prototype = window.UserMessageHandler && UserMessageHandler.prototype;
  if (!handlers || !prototype) return;
  var reported = false;
  Object.defineProperty(prototype, 'postMessage', {
    configurable: false, enumerable: true, writable: false,
    value: function postMessage(message) {
      if (reported) return;
      reported = true;
      report(this === handlers.harbor ? 'harbor' : 'a message handler');
    }
  });
}))JS";

// Run in the realm of every frame that posts to the bridge, before its scripts: each message with
// a body is admitted by the extension (admitMessage) or dropped, the page's promise resolved
// either way, for a dropped one with the text "dropped" (harbor.js fails the call's callback).
// Never rejected: a page that does not listen would log an error for every message dropped.
// Built-ins taken now, before the page can replace them.
constexpr char kHeldBack[] = R"JS((function (admit) {
  var prototype = window.UserMessageHandler && UserMessageHandler.prototype;
  if (!prototype || typeof prototype.postMessage !== 'function') return;
  var post = prototype.postMessage, apply = Reflect.apply, P = Promise, resolve = Promise.resolve;
  Object.defineProperty(prototype, 'postMessage', {
    configurable: false, enumerable: true, writable: false,
    value: function postMessage(message) {
      if (arguments.length && !admit()) return apply(resolve, P, ['dropped']);
      return apply(post, this, arguments);
    }
  });
}))JS";

gboolean admitMessage(gpointer data) {
  guint64 id = GPOINTER_TO_SIZE(data);
  Flow& flow = gFlow[id];
  bool admitted = flow.waiting < kMaxWaitingMessages;
  if (admitted) {
    ++flow.waiting;
    ++flow.posted;
    if (flow.waiting < kMaxWaitingMessages) return TRUE;
  }
  WebKitWebPage* page = webkit_web_extension_get_page(gExtension, id);
  if (!page) return admitted;
  if (!admitted && flow.dropped++ == 0) tellView(page, "harbor-held-back", g_variant_new_uint64(kMaxWaitingMessages));
  // Full: some of what it holds may never have been sent.
  askWhatArrived(page);
  return admitted;
}

struct DropReport {
  guint64 page;
  std::string frame;
};

void reportDropped(const char* handler, DropReport* report) {
  WebKitWebPage* page = webkit_web_extension_get_page(gExtension, report->page);
  if (!page) return;
  tellView(page, "harbor-dropped-message", g_variant_new("(ss)", handler ? handler : "", report->frame.c_str()));
}

// The page script's `post` (kind, first, second): to the engine, cut to a size the log keeps.
void postFromPage(const char* kind, const char* first, const char* second, gpointer data) {
  WebKitWebPage* page = webkit_web_extension_get_page(gExtension, GPOINTER_TO_SIZE(data));
  if (!page || !kind) return;
  std::string one = plat::cutPageText(first ? first : "");
  std::string two = plat::cutPageText(second ? second : "");
  tellView(page, "harbor-page", g_variant_new("(sss)", kind, one.c_str(), two.c_str()));
}

// Calls the function the script evaluates to with a native function of (types...) that calls
// `callback` with `data` (freed by `destroy`), and any further arguments.
void runWithNative(JSCContext* context, const char* script, const char* name, GCallback callback, gpointer data,
                   GDestroyNotify destroy, std::initializer_list<GType> types, GType returns = G_TYPE_NONE) {
  JSCValue* install = jsc_context_evaluate(context, script, -1);
  if (install && jsc_value_is_function(install)) {
    std::vector<GType> parameters(types);
    JSCValue* native = jsc_value_new_functionv(context, name, callback, data, destroy, returns,
                                               static_cast<guint>(parameters.size()), parameters.data());
    JSCValue* done = jsc_value_function_call(install, JSC_TYPE_VALUE, native, G_TYPE_NONE);
    if (done) g_object_unref(done);
    g_object_unref(native);
  } else if (destroy) {
    destroy(data);
  }
  if (install) g_object_unref(install);
}

// A frame of the page, kept while it lives.
void keepFrame(guint64 page, WebKitFrame* frame) {
  if (!gFrames[page].insert(frame).second) return;
  g_object_weak_ref(
      G_OBJECT(frame),
      [](gpointer id, GObject* gone) {
        auto frames = gFrames.find(GPOINTER_TO_SIZE(id));
        if (frames != gFrames.end()) frames->second.erase(reinterpret_cast<WebKitFrame*>(gone));
      },
      GSIZE_TO_POINTER(page));
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  if (!context) return;
  guint64 id = webkit_web_page_get_id(page);
  const char* uri = webkit_frame_get_uri(frame);
  bool main = webkit_frame_is_main_frame(frame);
  if (main && world == webkit_script_world_get_default()) {
    gFunctions[id].clear();
    // A new document: what the last one posted but never sent is not held against it.
    if (gFlow[id].waiting > 0) askWhatArrived(page);
  }
  if (!main) keepFrame(id, frame);
  if (!gPageScript.empty())
    runWithNative(context, gPageScript.c_str(), "post", G_CALLBACK(postFromPage), GSIZE_TO_POINTER(id), nullptr,
                  {G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING});
  if (!main && !allowedFrame(id, uri))
    runWithNative(context, kFrameHandlers, "report", G_CALLBACK(reportDropped), new DropReport{id, uri ? uri : ""},
                  [](gpointer data) { delete static_cast<DropReport*>(data); }, {G_TYPE_STRING});
  else if (world == webkit_script_world_get_default())
    runWithNative(context, kHeldBack, "admit", G_CALLBACK(admitMessage), GSIZE_TO_POINTER(id), nullptr, {}, G_TYPE_BOOLEAN);
  g_object_unref(context);
}

// WebKit's own messages for the page's console (a module or script refused, a load that
// failed, a security error) go to the container's log; the console API's own calls and uncaught
// errors reach it through the engine's page script already.
void onConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer) {
  WebKitConsoleMessageSource source = webkit_console_message_get_source(message);
  if (source == WEBKIT_CONSOLE_MESSAGE_SOURCE_CONSOLE_API || source == WEBKIT_CONSOLE_MESSAGE_SOURCE_JAVASCRIPT) return;
  const char* level = "log";
  switch (webkit_console_message_get_level(message)) {
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR: level = "error"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_WARNING: level = "warn"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_DEBUG: level = "debug"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_INFO: level = "info"; break;
    default: break;
  }
  const char* text = webkit_console_message_get_text(message);
  std::string line = plat::cutPageText(text ? text : "");
  tellView(page, "harbor-console", g_variant_new("(ss)", level, line.c_str()));
}

void onURIChanged(WebKitWebPage* page, GParamSpec*, gpointer) {
  guint64 id = webkit_web_page_get_id(page);
  const char* uri = webkit_web_page_get_uri(page);
  std::size_t held = uri ? std::strlen(uri) : 0;
  for (WebKitFrame* frame : gFrames[id])
    if (const char* address = webkit_frame_get_uri(frame)) held += std::strlen(address);
  plat::web::RecentAddresses& kept = gAddresses[id];
  if (!kept.add(held, static_cast<double>(g_get_monotonic_time()) / G_USEC_PER_SEC)) return;
  // Written straight to the log the process shares with the runner: a message to the engine
  // might not leave before the process ends.
  std::string line = kept.whyTheProcessEnds() + "\n";
  ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  (void)written;
  ::_exit(1);
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  // The engine watches this process's memory (a page that allocates without ever returning to
  // its event loop never lets WebKit's own watch run).
  tellView(page, "harbor-process", g_variant_new_int64(static_cast<gint64>(::getpid())));
  g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
  g_signal_connect(page, "notify::uri", G_CALLBACK(onURIChanged), nullptr);
  g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
  g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
  g_object_weak_ref(
      G_OBJECT(page),
      [](gpointer id, GObject*) {
        gFlow.erase(GPOINTER_TO_SIZE(id));
        gFrames.erase(GPOINTER_TO_SIZE(id));
        gAddresses.erase(GPOINTER_TO_SIZE(id));
        auto functions = gFunctions.find(GPOINTER_TO_SIZE(id));
        if (functions == gFunctions.end()) return;
        functions->second.clear();
        gFunctions.erase(functions);
      },
      GSIZE_TO_POINTER(webkit_web_page_get_id(page)));
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* data) {
  gExtension = extension;
  // The engine holds this process stopped for a moment while it catches up with the page's
  // navigations; a stopped process would never notice that the runner has gone, so the system
  // ends it then.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // From the engine: "roots" (already resolved) and "page-script".
  auto* variant = const_cast<GVariant*>(data);
  if (variant && g_variant_is_of_type(variant, G_VARIANT_TYPE_VARDICT)) {
    if (GVariant* roots = g_variant_lookup_value(variant, "roots", G_VARIANT_TYPE_STRING_ARRAY)) {
      gsize count = 0;
      const gchar** texts = g_variant_get_strv(roots, &count);
      for (gsize i = 0; i < count; ++i) gRoots.emplace_back(texts[i]);
      g_free(texts);
      g_variant_unref(roots);
    }
    if (GVariant* script = g_variant_lookup_value(variant, "page-script", G_VARIANT_TYPE_STRING)) {
      gPageScript = g_variant_get_string(script, nullptr);
      g_variant_unref(script);
    }
  }
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                   nullptr);
}
