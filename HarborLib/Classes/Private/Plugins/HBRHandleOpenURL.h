#pragma once
// Hands every URL the application is opened with (and every URL an engine reports as a
// navigation nobody voted on) to the page's global function handleOpenURL, once the page's
// "deviceready" event has fired. A URL that arrives before the first page has loaded waits for
// that load; only the last one waits. After the first load every URL is delivered at once.
//
// The plugin only hears URLs from the moment it exists: it must be a start-up plugin to see the
// URL that launched the application.
//
// The URL comes from another application and is trusted for nothing: it reaches the page only
// as the text of a script string literal, escaped so that no character of it can end the
// literal (ordinary URLs come out unchanged).
//
// Threads: main thread (the notifications are posted there, and scripts are evaluated there).
#include <string>
#include <string_view>

#include "HBRPlugin.h"
#include "plat/foundation/NSNotificationCenter.h"
#include "plat/foundation/NSURL.h"

namespace harbor {

class HBRHandleOpenURL : public HBRPlugin {
 public:
  // Observes "HBRPluginHandleOpenURLNotification" and "HBRPageDidLoadNotification" from any
  // sender.
  void pluginInitialize() override;

  // The notification's object is the opened URL; anything else is ignored.
  void applicationLaunchedWithUrl(const plat::NSNotification& notification);
  void applicationPageDidLoad(const plat::NSNotification& notification);

  // With pageLoaded, delivers the URL to the page now. Without, asks the page whether its
  // document has loaded first: "loaded" or "complete" delivers, any other text keeps the URL
  // for the next page load, no text at all drops it.
  void processOpenUrl(const plat::NSURLPtr& url, bool pageLoaded);

  // The script that hands the URL text to the page's handleOpenURL after "deviceready".
  static std::string scriptForURL(std::string_view urlText);

  const plat::NSURLPtr& url() const { return url_; }
  void setUrl(plat::NSURLPtr url) { url_ = std::move(url); }
  bool pageLoaded() const { return pageLoaded_; }
  void setPageLoaded(bool loaded) { pageLoaded_ = loaded; }

 private:
  void deliver(const plat::NSURLPtr& url);

  plat::NSURLPtr url_;
  bool pageLoaded_ = false;
};

}  // namespace harbor
