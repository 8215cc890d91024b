#pragma once
// What WebKit would decide for a view by itself, decided by the container instead, each logged:
// a page asks for a permission (position, camera and microphone, notifications, pointer lock,
// the clipboard, storage access, media keys, plugins), whether it has one, to print, to go full
// screen, to show a web notification, for credentials, a colour chooser, a new window or a
// context menu. On the device none of these reaches past the application: the answers follow
// that (refused, cancelled, not shown), except the clipboard, which is the device's pasteboard.
// Files dropped onto the view are refused too: a person could hand the page any host file.
// The page's file chooser is the view's own (WebPageClient::webPageRunOpenPanel).
#include <webkit2/webkit2.h>

namespace plat::web {

void answerForTheContainer(WebKitWebView* view);

// The page asked to capture the screen (its page script tells; WebKit's own request is off):
// logged as refused, as the camera is.
void refuseScreenCapture();

}  // namespace plat::web
