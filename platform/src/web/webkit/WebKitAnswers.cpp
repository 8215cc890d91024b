#include "WebKitAnswers.h"

#include <gtk/gtk.h>

#include <string>

#include "plat/foundation/Log.h"

namespace plat::web {
namespace {

void say(const std::string& line) { NSLog("WebKit: " + line); }

// What a permission request asks for, and whether the device would let the page have it.
struct Verdict {
  const char* what;
  bool granted;
  const char* why;
};

Verdict verdictFor(WebKitPermissionRequest* request) {
  if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request))
    return {"the device's position", false, "pages locate the device with the Geolocation plugin"};
  if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request))
    return {"the camera or microphone", false, "pages capture with the Camera and Capture plugins"};
  if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
    return {"web notifications", false, "pages notify with the local notification plugin"};
  if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request))
    return {"the clipboard", true, "it is the device's pasteboard"};
  if (WEBKIT_IS_POINTER_LOCK_PERMISSION_REQUEST(request))
    return {"pointer lock", false, "the device has no pointer"};
  if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request))
    return {"the list of cameras and microphones", false, "pages capture with the Camera and Capture plugins"};
  if (WEBKIT_IS_MEDIA_KEY_SYSTEM_PERMISSION_REQUEST(request))
    return {"a media key system", false, "the container offers none"};
  if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request))
    return {"another site's storage", false, "pages keep to their own storage"};
  if (WEBKIT_IS_INSTALL_MISSING_MEDIA_PLUGINS_PERMISSION_REQUEST(request))
    return {"media plugins to be installed", false, "the container installs nothing"};
  return {G_OBJECT_TYPE_NAME(request), false, "the container does not know it"};
}

gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  Verdict verdict = verdictFor(request);
  say(std::string("the page asked for ") + verdict.what + ": " + (verdict.granted ? "granted (" : "denied (") +
      verdict.why + ")");
  if (verdict.granted)
    webkit_permission_request_allow(request);
  else
    webkit_permission_request_deny(request);
  return TRUE;
}

// navigator.permissions.query(): the answer the request would get.
gboolean onQueryPermissionState(WebKitWebView*, WebKitPermissionStateQuery* query, gpointer) {
  std::string name = webkit_permission_state_query_get_name(query);
  bool clipboard = name.rfind("clipboard", 0) == 0;
  say("the page asked whether it may use " + logExcerpt(name) + ": " + (clipboard ? "granted" : "denied"));
  webkit_permission_state_query_finish(query, clipboard ? WEBKIT_PERMISSION_STATE_GRANTED : WEBKIT_PERMISSION_STATE_DENIED);
  return TRUE;
}

// A modal print dialog would stop the runner; nothing here prints.
gboolean onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer) {
  say("the page asked to print: cancelled (printing is not offered)");
  return TRUE;
}

gboolean onEnterFullscreen(WebKitWebView*, gpointer) {
  say("the page asked for full screen: refused (the page fills the screen already)");
  return TRUE;
}

gboolean onShowNotification(WebKitWebView*, WebKitNotification* notification, gpointer) {
  const char* title = webkit_notification_get_title(notification);
  say("the page's web notification " + std::string("'") + logPageText(title ? title : "") +
      "' was not shown (pages notify with the local notification plugin)");
  webkit_notification_close(notification);
  return TRUE;
}

gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  const char* host = webkit_authentication_request_get_host(request);
  say("the server " + logExcerpt(host ? host : "") + " asked the page for credentials: cancelled (nobody types them)");
  webkit_authentication_request_cancel(request);
  return TRUE;
}

gboolean onRunColorChooser(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  say("the page asked for a colour chooser: cancelled (the device shows none)");
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}

GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer) {
  WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  say("the page asked for a new window (" + logPageText(uri ? uri : "") + "): refused (pages show in their one view)");
  return nullptr;
}

gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;  // the device has no such menu, and its items would download and open windows
}

}  // namespace

void refuseScreenCapture() { say("the page asked for the screen: denied (the container shares no screen)"); }

void answerForTheContainer(WebKitWebView* view) {
  g_signal_connect(view, "permission-request", G_CALLBACK(onPermissionRequest), nullptr);
  g_signal_connect(view, "query-permission-state", G_CALLBACK(onQueryPermissionState), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(onPrint), nullptr);
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(onEnterFullscreen), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(onShowNotification), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(onAuthenticate), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(onRunColorChooser), nullptr);
  g_signal_connect(view, "create", G_CALLBACK(onCreate), nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(onContextMenu), nullptr);
  gtk_drag_dest_unset(GTK_WIDGET(view));
}

}  // namespace plat::web
