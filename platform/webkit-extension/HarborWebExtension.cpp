// Loaded by WebKit into every web content process of the WebKit page engine. A page's code runs
// in these processes, so what they let it do, it does; the extension holds two doors:
// - Files: every request a page makes (its document, scripts, modules, images, media, frames,
//   XMLHttpRequest, fetch, and those of its dedicated workers, which load through the page) for
//   a file URL is cancelled unless the file, with its links resolved, lies inside one of the
//   roots the engine gave the process (the sandbox home and the application bundle) and, when
//   the engine gave the page a read-access folder or file, inside that too
//   (plat/web/ReadableFiles.h). Without roots nothing of file: loads.
// - The bridge: the main frame keeps window.webkit.messageHandlers as WebKit made it. A frame
//   whose URL the engine allowed (it tells the extension before each allowed navigation) posts to
//   every handler but the engine's own page channel; any other frame's messages are dropped, and
//   the engine logs that once per document.
// WebKit's own console messages go to the container's log, cut to a size the log keeps, and the
// engine hears which process each page runs in.
//
// Kept free of the container's code: it runs inside WebKit's processes, not ours.
#include <webkit2/webkit-web-extension.h>

#include <unistd.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/TextCut.h"
#include "plat/web/ReadableFiles.h"

namespace {

WebKitWebExtension* gExtension = nullptr;
std::vector<std::string> gRoots;
// Per page (by its identifier): the read-access path the engine sent ("" reads no files).
std::map<guint64, std::string> gReadAccess;
// Per page: the URLs of the navigations the engine allowed last (a frame's document at one of
// them gets the bridge).
std::map<guint64, std::deque<std::string>> gAllowed;
constexpr std::size_t kAllowedKept = 256;
constexpr std::size_t kConsoleLineBytes = 65536;

void tellView(WebKitWebPage* page, const char* name, GVariant* parameters) {
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr, nullptr, nullptr);
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

// "harbor-read-access" (a string): the folder or file the page's file loads are confined to.
// "harbor-allowed-frame" (a string): a URL the engine allowed a navigation to.
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

// Run in a frame's own realm before its scripts: window.webkit is WebKit's and cannot be
// replaced, but the handlers' postMessage lives on their prototype in this realm. An allowed
// frame's handlers post as before, except to the engine's page channel; any other frame's drop
// every message and report the first. (A frame reaching another realm of its origin reaches a
// document of the same origin, which could post itself.)
constexpr char kFrameHandlers[] = R"JS((function (report, allowed) {
  var handlers = window.webkit && window.webkit.messageHandlers;
  var channel = handlers && handlers.harborPage;
  if (!channel) return;
  var prototype = Object.getPrototypeOf(channel), post = prototype.postMessage, apply = Reflect.apply;
  var reported = false;
  Object.defineProperty(prototype, 'postMessage', {
    configurable: false, enumerable: true, writable: false,
    value: function postMessage(message) {
      if (allowed && this !== channel) return apply(post, this, arguments);
      if (reported) return;
      reported = true;
      report(this === channel ? 'harborPage' : this === handlers.harbor ? 'harbor' : 'a message handler');
    }
  });
}))JS";

struct DropReport {
  guint64 page;
  std::string frame;
};

void reportDropped(const char* handler, DropReport* report) {
  WebKitWebPage* page = webkit_web_extension_get_page(gExtension, report->page);
  if (!page) return;
  tellView(page, "harbor-dropped-message", g_variant_new("(ss)", handler ? handler : "", report->frame.c_str()));
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  if (webkit_frame_is_main_frame(frame)) return;
  const char* uri = webkit_frame_get_uri(frame);
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  if (!context) return;
  guint64 id = webkit_web_page_get_id(page);
  bool allowed = allowedFrame(id, uri);
  JSCValue* install = jsc_context_evaluate(context, kFrameHandlers, -1);
  if (install && jsc_value_is_function(install)) {
    auto* report = new DropReport{id, uri ? uri : ""};
    JSCValue* native = jsc_value_new_function(context, "report", G_CALLBACK(reportDropped), report,
                                              [](gpointer data) { delete static_cast<DropReport*>(data); },
                                              G_TYPE_NONE, 1, G_TYPE_STRING);
    JSCValue* done = jsc_value_function_call(install, JSC_TYPE_VALUE, native, G_TYPE_BOOLEAN, allowed, G_TYPE_NONE);
    if (done) g_object_unref(done);
    g_object_unref(native);
  }
  if (install) g_object_unref(install);
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
  std::string line = plat::cutText(text ? text : "", kConsoleLineBytes);
  tellView(page, "harbor-console", g_variant_new("(ss)", level, line.c_str()));
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  // The engine watches this process's memory (a page that allocates without ever returning to
  // its event loop never lets WebKit's own watch run).
  tellView(page, "harbor-process", g_variant_new_int64(static_cast<gint64>(::getpid())));
  g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
  g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
  g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* data) {
  gExtension = extension;
  // The roots, as an array of strings, already resolved by the engine.
  auto* variant = const_cast<GVariant*>(data);
  if (variant && g_variant_is_of_type(variant, G_VARIANT_TYPE_STRING_ARRAY)) {
    gsize count = 0;
    const gchar** roots = g_variant_get_strv(variant, &count);
    for (gsize i = 0; i < count; ++i) gRoots.emplace_back(roots[i]);
    g_free(roots);
  }
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                   nullptr);
}
