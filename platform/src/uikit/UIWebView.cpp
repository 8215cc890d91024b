#include "plat/uikit/UIWebView.h"

#include <JavaScriptCore/JavaScript.h>

#include <vector>

#include "plat/foundation/NSUserDefaults.h"

#if defined(__SANITIZE_ADDRESS__)
#define HARBOR_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARBOR_LSAN 1
#endif
#endif
#ifdef HARBOR_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace plat {
namespace {

// The script engine keeps its objects in a heap of its own that the leak checker cannot see
// into, so whatever it allocates would be reported as lost. Its allocations are its business.
struct EngineAllocations {
#ifdef HARBOR_LSAN
  EngineAllocations() { __lsan_disable(); }
  ~EngineAllocations() { __lsan_enable(); }
#else
  EngineAllocations() {}
  ~EngineAllocations() {}
#endif
  EngineAllocations(const EngineAllocations&) = delete;
  EngineAllocations& operator=(const EngineAllocations&) = delete;
};

std::string toUTF8(JSStringRef string) {
  std::size_t max = JSStringGetMaximumUTF8CStringSize(string);
  std::vector<char> buffer(max);
  std::size_t written = JSStringGetUTF8CString(string, buffer.data(), max);
  return written ? std::string(buffer.data(), written - 1) : std::string();
}

// All views share one script virtual machine for the life of the process: making and tearing
// down a machine per view is slow, and the teardown runs code of ours that the library was not
// built to call (seen as false reports under the undefined-behaviour sanitizer).
JSContextGroupRef sharedGroup() {
  static JSContextGroupRef group = JSContextGroupCreate();
  return group;
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
  EngineAllocations engine;
  if (context_) JSGlobalContextRelease(static_cast<JSGlobalContextRef>(context_));
}

void UIWebView::init() {
  if (context_) return;
  userAgent_ = defaultUserAgent();
  EngineAllocations engine;
  JSGlobalContextRef ctx = JSGlobalContextCreateInGroup(sharedGroup(), nullptr);
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
  EngineAllocations engine;
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
