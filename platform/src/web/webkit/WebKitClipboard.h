#pragma once
// The pages' clipboard is the container's own, never the desktop's (see WebKitClipboard.cpp).

namespace plat::web {

// Puts the general pasteboard's text on the clipboard WebKit gives the pages. Main thread, once
// GTK has opened the display.
void useContainerClipboard();

}  // namespace plat::web
