#pragma once
// What a WKWebView is made with: preferences, the user content controller (script message
// handlers the page can post to) and the media and rendering flags. The view keeps the very
// configuration it was given, so settings made on it later stay readable there.
//
// Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace plat {

class WKWebView;
class WKUserContentController;
class WKFrameInfo;

class WKPreferences : public Object {
 public:
  double minimumFontSize() const { return minimumFontSize_; }
  void setMinimumFontSize(double size) { minimumFontSize_ = size; }
  bool javaScriptEnabled() const { return javaScriptEnabled_; }
  void setJavaScriptEnabled(bool enabled) { javaScriptEnabled_ = enabled; }
  bool javaScriptCanOpenWindowsAutomatically() const { return javaScriptCanOpenWindowsAutomatically_; }
  void setJavaScriptCanOpenWindowsAutomatically(bool v) { javaScriptCanOpenWindowsAutomatically_ = v; }

 private:
  double minimumFontSize_ = 0;
  bool javaScriptEnabled_ = true;
  bool javaScriptCanOpenWindowsAutomatically_ = false;
};

// One message the page posted: window.webkit.messageHandlers.<name>.postMessage(body).
class WKScriptMessage : public Object {
 public:
  WKScriptMessage(std::string name, Value body, std::weak_ptr<WKWebView> webView, std::shared_ptr<WKFrameInfo> frameInfo)
      : name_(std::move(name)), body_(std::move(body)), webView_(std::move(webView)), frameInfo_(std::move(frameInfo)) {}
  const std::string& name() const { return name_; }
  // The page's value as plat::Value (absent for undefined).
  const Value& body() const { return body_; }
  std::shared_ptr<WKWebView> webView() const { return webView_.lock(); }
  const std::shared_ptr<WKFrameInfo>& frameInfo() const { return frameInfo_; }
  // When the host could not read the body (it is absent then): why, and the first elements of an
  // array body that are scalars (plat/web/ScriptMessageBody.h), so that the receiver can tell
  // whose message it could not read.
  const std::optional<std::string>& unreadable() const { return unreadable_; }
  const Array& unreadableHead() const { return unreadableHead_; }
  void setUnreadable(std::string why, Array head) {
    unreadable_ = std::move(why);
    unreadableHead_ = std::move(head);
  }

 private:
  std::string name_;
  Value body_;
  std::optional<std::string> unreadable_;
  Array unreadableHead_;
  std::weak_ptr<WKWebView> webView_;
  std::shared_ptr<WKFrameInfo> frameInfo_;
};

class WKScriptMessageHandler {
 public:
  virtual ~WKScriptMessageHandler() = default;
  // Main thread, on a later turn than the page's postMessage.
  virtual void userContentControllerDidReceiveScriptMessage(WKUserContentController& userContentController,
                                                            const std::shared_ptr<WKScriptMessage>& message) = 0;
};

class WKUserContentController : public Object {
 public:
  // Keeps the handler (strongly, as the platform does). A name can have one handler only: adding
  // a second is refused with a log line and false.
  bool addScriptMessageHandler(const std::shared_ptr<WKScriptMessageHandler>& handler, const std::string& name);
  void removeScriptMessageHandlerForName(const std::string& name);
  // The handler under the name, or null.
  std::shared_ptr<WKScriptMessageHandler> scriptMessageHandlerForName(const std::string& name) const;
  std::vector<std::string> scriptMessageHandlerNames() const;

 private:
  friend class WKWebView;
  void addWebView(const std::weak_ptr<WKWebView>& view);
  void changed();

  std::vector<std::pair<std::string, std::shared_ptr<WKScriptMessageHandler>>> handlers_;
  std::vector<std::weak_ptr<WKWebView>> webViews_;
};

class WKWebViewConfiguration : public Object {
 public:
  WKWebViewConfiguration();

  const std::shared_ptr<WKPreferences>& preferences() const { return preferences_; }
  void setPreferences(std::shared_ptr<WKPreferences> preferences) { preferences_ = std::move(preferences); }
  const std::shared_ptr<WKUserContentController>& userContentController() const { return userContentController_; }
  void setUserContentController(std::shared_ptr<WKUserContentController> controller) {
    userContentController_ = std::move(controller);
  }

  bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
  void setAllowsInlineMediaPlayback(bool v) { allowsInlineMediaPlayback_ = v; }
  bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
  void setMediaPlaybackRequiresUserAction(bool v) { mediaPlaybackRequiresUserAction_ = v; }
  bool mediaPlaybackAllowsAirPlay() const { return mediaPlaybackAllowsAirPlay_; }
  void setMediaPlaybackAllowsAirPlay(bool v) { mediaPlaybackAllowsAirPlay_ = v; }
  bool suppressesIncrementalRendering() const { return suppressesIncrementalRendering_; }
  void setSuppressesIncrementalRendering(bool v) { suppressesIncrementalRendering_ = v; }

 private:
  std::shared_ptr<WKPreferences> preferences_;
  std::shared_ptr<WKUserContentController> userContentController_;
  bool allowsInlineMediaPlayback_ = false;
  bool mediaPlaybackRequiresUserAction_ = true;
  bool mediaPlaybackAllowsAirPlay_ = true;
  bool suppressesIncrementalRendering_ = false;
};

}  // namespace plat
