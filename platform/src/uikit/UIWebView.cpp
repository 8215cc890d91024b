#include "plat/uikit/UIWebView.h"

#include <JavaScriptCore/JavaScript.h>

#include <vector>

#include "plat/foundation/NSUserDefaults.h"

namespace plat {
namespace {

std::string toUTF8(JSStringRef string) {
  std::size_t max = JSStringGetMaximumUTF8CStringSize(string);
  std::vector<char> buffer(max);
  std::size_t written = JSStringGetUTF8CString(string, buffer.data(), max);
  return written ? std::string(buffer.data(), written - 1) : std::string();
}

void setProperty(JSContextRef ctx, JSObjectRef object, const char* name, JSValueRef value) {
  JSStringRef key = JSStringCreateWithUTF8CString(name);
  JSObjectSetProperty(ctx, object, key, value, kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontDelete,
                      nullptr);
  JSStringRelease(key);
}

}  // namespace

std::string UIWebView::defaultUserAgent() {
  Value registered = NSUserDefaults::standardUserDefaults()->objectForKey(kUserAgentDefaultsKey);
  if (registered.isString()) return registered.asString();
  return kBuiltInUserAgent;
}

UIWebView::~UIWebView() {
  if (context_) JSGlobalContextRelease(static_cast<JSGlobalContextRef>(context_));
}

void UIWebView::init() {
  if (context_) return;
  userAgent_ = defaultUserAgent();
  JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
  context_ = ctx;
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  JSObjectRef navigator = JSObjectMake(ctx, nullptr, nullptr);
  JSStringRef ua = JSStringCreateWithUTF8CString(userAgent_.c_str());
  setProperty(ctx, navigator, "userAgent", JSValueMakeString(ctx, ua));
  JSStringRelease(ua);
  setProperty(ctx, global, "navigator", navigator);
}

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  if (!context_) return {};
  auto ctx = static_cast<JSGlobalContextRef>(context_);
  JSStringRef source = JSStringCreateWithUTF8CString(script.c_str());
  JSValueRef exception = nullptr;
  JSValueRef result = JSEvaluateScript(ctx, source, nullptr, nullptr, 1, &exception);
  JSStringRelease(source);
  if (exception || !result || JSValueIsUndefined(ctx, result) || JSValueIsNull(ctx, result)) return {};
  JSStringRef text = JSValueToStringCopy(ctx, result, &exception);
  if (exception || !text) return {};
  std::string out = toUTF8(text);
  JSStringRelease(text);
  return out;
}

}  // namespace plat
