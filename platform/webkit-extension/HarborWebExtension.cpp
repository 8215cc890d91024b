// Loaded by WebKit into every web content process of the WebKit page engine: keeps the pages'
// file reads inside the folders the application may read. Every request a page makes (its
// document, scripts, modules, images, frames, XMLHttpRequest, fetch) for a file URL is
// cancelled unless the file, with its links resolved, lies inside one of the roots the engine
// gave the process (the sandbox home and the application bundle) and, when the engine gave the
// page a read-access folder or file, inside that too. Without roots nothing of file: loads.
//
// Kept free of the container's code: it runs inside WebKit's process, not ours.
#include <webkit2/webkit-web-extension.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> gRoots;
// Per page (by its identifier): the read-access path the engine sent ("" reads no files).
std::map<guint64, std::string> gReadAccess;

// The path with its links resolved; a path that does not exist yet is resolved through its
// nearest existing folder (it cannot be read, but must not pass as inside a root either).
std::optional<std::string> resolved(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer)) return std::string(buffer);
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return std::nullopt;
  auto parent = resolved(path.substr(0, slash));
  if (!parent) return std::nullopt;
  return *parent + path.substr(slash);
}

bool inside(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (path == root) return true;
  std::string folder = root.back() == '/' ? root : root + "/";
  return path.compare(0, folder.size(), folder) == 0;
}

bool mayRead(guint64 page, const char* uri) {
  GFile* file = g_file_new_for_uri(uri);
  char* raw = g_file_get_path(file);
  g_object_unref(file);
  if (!raw) return false;
  std::string path(raw);
  g_free(raw);
  // A ".." that climbs is refused before anything is resolved.
  if (path.find("/../") != std::string::npos || (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0))
    return false;
  auto real = resolved(path);
  if (!real) return false;
  bool inRoot = false;
  for (const std::string& root : gRoots) inRoot = inRoot || inside(*real, root);
  if (!inRoot) return false;
  auto access = gReadAccess.find(page);
  if (access == gReadAccess.end()) return true;
  auto folder = resolved(access->second);
  return folder && inside(*real, *folder);
}

gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
  const char* uri = webkit_uri_request_get_uri(request);
  if (!uri || g_ascii_strncasecmp(uri, "file:", 5) != 0) return FALSE;
  if (mayRead(webkit_web_page_get_id(page), uri)) return FALSE;
  // The engine logs the refusal in the container's log.
  webkit_web_page_send_message_to_view(page, webkit_user_message_new("harbor-refused-read", g_variant_new_string(uri)),
                                       nullptr, nullptr, nullptr);
  return TRUE;  // cancelled
}

// "harbor-read-access" (a string): the folder or file the page's file loads are confined to.
gboolean onUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  if (g_strcmp0(webkit_user_message_get_name(message), "harbor-read-access") != 0) return FALSE;
  GVariant* parameters = webkit_user_message_get_parameters(message);
  guint64 id = webkit_web_page_get_id(page);
  if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE_STRING))
    gReadAccess[id] = g_variant_get_string(parameters, nullptr);
  else
    gReadAccess.erase(id);
  return TRUE;
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
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new("harbor-console", g_variant_new("(ss)", level, text ? text : "")), nullptr, nullptr,
      nullptr);
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
  g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
  g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* data) {
  // The roots, as an array of strings, already resolved by the engine.
  auto* variant = const_cast<GVariant*>(data);
  if (variant && g_variant_is_of_type(variant, G_VARIANT_TYPE_STRING_ARRAY)) {
    gsize count = 0;
    const gchar** roots = g_variant_get_strv(variant, &count);
    for (gsize i = 0; i < count; ++i) gRoots.emplace_back(roots[i]);
    g_free(roots);
  }
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
