#include "HBRHandleOpenURL.h"

#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

constexpr char kScriptBefore[] =
    "document.addEventListener('deviceready',function(){if (typeof handleOpenURL === 'function') { handleOpenURL(\"";
constexpr char kScriptAfter[] = "\");}});";
constexpr char kReadyStateScript[] = "document.readyState";

// The text as the inside of a double-quoted script string. Quotes, backslashes, control
// characters and the two line separators that end a script line are escaped; everything else,
// and so every character a URL may hold, stays as it is.
std::string escapeForStringLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += plat::format("\\u%04x", c);
    } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string HBRHandleOpenURL::scriptForURL(std::string_view urlText) {
  // Invalid UTF-8 would make the whole script unreadable to the engine.
  return kScriptBefore + escapeForStringLiteral(plat::sanitizeUTF8(urlText)) + kScriptAfter;
}

void HBRHandleOpenURL::pluginInitialize() {
  auto& center = plat::NSNotificationCenter::defaultCenter();
  std::shared_ptr<plat::Object> self = shared_from_this();
  std::weak_ptr<HBRHandleOpenURL> weak = this->weakSelf<HBRHandleOpenURL>();
  center.addObserver(self, kHBRPluginHandleOpenURLNotification, nullptr, [weak](const plat::NSNotification& n) {
    if (auto plugin = weak.lock()) plugin->applicationLaunchedWithUrl(n);
  });
  center.addObserver(self, kHBRPageDidLoadNotification, nullptr, [weak](const plat::NSNotification& n) {
    if (auto plugin = weak.lock()) plugin->applicationPageDidLoad(n);
  });
}

void HBRHandleOpenURL::applicationLaunchedWithUrl(const plat::NSNotification& notification) {
  auto url = std::dynamic_pointer_cast<plat::NSURL>(notification.object);
  if (!url) return;
  if (pageLoaded_) {
    url_.reset();
    processOpenUrl(url, true);
  } else {
    url_ = url;  // a later URL replaces an earlier one
  }
}

void HBRHandleOpenURL::applicationPageDidLoad(const plat::NSNotification&) {
  pageLoaded_ = true;
  if (url_) {
    // Cleared before delivery: the page's script may open another URL while it runs.
    plat::NSURLPtr waiting = std::move(url_);
    url_.reset();
    processOpenUrl(waiting, true);
  }
}

void HBRHandleOpenURL::processOpenUrl(const plat::NSURLPtr& url, bool pageLoaded) {
  if (!url) return;
  if (pageLoaded) {
    deliver(url);
    return;
  }
  auto engine = webViewEngine();
  if (!engine) return;
  std::weak_ptr<HBRHandleOpenURL> weak = this->weakSelf<HBRHandleOpenURL>();
  auto onReadyState = [weak, url](const plat::Value& result, const std::optional<plat::NSError>&) {
    auto plugin = weak.lock();
    if (!plugin || !result.isString()) return;
    const std::string& state = result.asString();
    if (state == "loaded" || state == "complete")
      plugin->deliver(url);
    else
      plugin->url_ = url;
  };
  engine->evaluateJavaScript(kReadyStateScript, onReadyState);
}

void HBRHandleOpenURL::deliver(const plat::NSURLPtr& url) {
  if (auto engine = webViewEngine()) engine->evaluateJavaScript(scriptForURL(url->absoluteString()), nullptr);
}

}  // namespace harbor
