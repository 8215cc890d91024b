// The native side of XMLHttpRequest and fetch (xhr.js): one ResourceFetch per load, reported to
// the script's handlers on the main run loop.
#include <map>

#include "PageScripts.h"
#include "PageServices.h"
#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURLError.h"
#include "plat/foundation/Strings.h"
#include "plat/web/WebPage.h"

namespace plat::web {
namespace {

// The reason phrases pages compare statusText with; HTTP/2 sends none, so they come from here.
std::string reasonPhrase(long status) {
  static const std::map<long, const char*> phrases = {
      {200, "OK"},           {201, "Created"},           {202, "Accepted"},
      {204, "No Content"},   {206, "Partial Content"},   {301, "Moved Permanently"},
      {302, "Found"},        {303, "See Other"},         {304, "Not Modified"},
      {307, "Temporary Redirect"}, {308, "Permanent Redirect"}, {400, "Bad Request"},
      {401, "Unauthorized"}, {403, "Forbidden"},         {404, "Not Found"},
      {405, "Method Not Allowed"}, {408, "Request Timeout"}, {409, "Conflict"},
      {410, "Gone"},         {429, "Too Many Requests"}, {500, "Internal Server Error"},
      {501, "Not Implemented"}, {502, "Bad Gateway"},   {503, "Service Unavailable"},
      {504, "Gateway Timeout"}};
  auto it = phrases.find(status);
  return it == phrases.end() ? std::string() : it->second;
}

// A page may read files of its application only: its sandbox home and its bundle (a web view
// given a read-access folder narrows this further when it fetches).
bool mayReadFile(const NSURLPtr& url) {
  if (!url->isFileURL()) return true;
  std::vector<std::string> roots = {NSHomeDirectory()};
  if (auto bundle = NSBundle::mainBundle()) roots.push_back(bundle->bundlePath());
  for (const std::string& root : roots) {
    std::optional<long> refused = readAccessError(url, root);
    if (!refused || *refused == NSURLErrorFileDoesNotExist) return true;
  }
  return false;
}

class LoadBinding : public std::enable_shared_from_this<LoadBinding> {
 public:
  explicit LoadBinding(DocumentServices services) : services_(std::move(services)) {}

  JSValue send(JSContext& js, const JSValueList& a) {
    NSURLPtr url = a.size() > 0 ? NSURL::URLWithString(a[0].toString()) : nullptr;
    HeaderFields headers;
    if (a.size() > 1) {
      for (unsigned i = 0; a[1].at(i).isArray(); ++i) headers.emplace_back(a[1].at(i).at(0).toString(), a[1].at(i).at(1).toString());
    }
    long id = nextId_++;
    Load& load = loads_[id];
    load.handlers = a.size() > 2 ? a[2] : JSValue();
    load.url = url;
    std::weak_ptr<LoadBinding> weak = weak_from_this();
    if (!url || !mayReadFile(url)) {
      if (url) NSLog("Not allowed to load local resource: " + url->absoluteString());
      NSError refused = NSURLErrorWithCode(url ? NSURLErrorNoPermissionsToReadFile : NSURLErrorBadURL, url);
      RunLoop::main().post([weak, id, refused] {
        if (auto self = weak.lock()) self->finished(id, nullptr, Data(), refused);
      });
      return js.makeNumber(static_cast<double>(id));
    }
    load.fetch = services_.fetch(url, headers, [weak, id](const NSURLResponsePtr& response, Data body, std::optional<NSError> error) {
      if (auto self = weak.lock()) self->finished(id, response, std::move(body), std::move(error));
    });
    if (load.fetch) {
      load.fetch->observe(
          [weak, id](const NSURLResponsePtr& response) {
            if (auto self = weak.lock()) self->responded(id, response);
          },
          [weak, id](std::size_t received) {
            if (auto self = weak.lock()) self->progressed(id, received);
          });
    }
    return js.makeNumber(static_cast<double>(id));
  }

  void abort(long id) {
    auto it = loads_.find(id);
    if (it == loads_.end()) return;
    if (it->second.fetch) it->second.fetch->cancel();
    loads_.erase(it);
  }

  // The body of a load that is reporting done, as text (in the charset given, else the
  // response's) or as an ArrayBuffer.
  JSValue take(JSContext& js, long id, const std::string& kind, const std::optional<std::string>& charsetOverride) {
    auto it = loads_.find(id);
    if (it == loads_.end()) return js.null();
    Load& load = it->second;
    if (kind == "arraybuffer") return js.makeValue(Value(load.body));
    return js.makeString(decodeText(load.body, charsetOverride ? charsetOverride : charset(load.response)));
  }

 private:
  struct Load {
    std::shared_ptr<ResourceFetch> fetch;
    JSValue handlers;
    NSURLPtr url;
    NSURLResponsePtr response;
    bool responded = false;
    Data body;
  };

  static std::optional<std::string> charset(const NSURLResponsePtr& response) {
    return response ? response->textEncodingName() : std::nullopt;
  }

  // Calls one of the script's handlers of the load, if its document is still there.
  void report(long id, const char* handler, const std::function<JSValueList(JSContext&)>& arguments) {
    auto it = loads_.find(id);
    if (it == loads_.end()) return;
    auto hold = services_.enter ? services_.enter() : nullptr;
    // Copies: the script may abort the load, and so forget it, while the handler runs.
    JSValue handlers = it->second.handlers;
    JSValue function = handlers.property(handler);
    JSContext* js = function.context();
    if (!hold || !js || !function.isFunction()) return;
    JSException exception;
    if (!function.call(arguments(*js), handlers, &exception))
      NSLog("JavaScript error: " + exception.description());
  }

  void responded(long id, const NSURLResponsePtr& response) {
    auto it = loads_.find(id);
    if (it == loads_.end() || !response) return;
    it->second.response = response;
    it->second.responded = true;
    report(id, "response", [&](JSContext& js) {
      long status = 200;
      HeaderFields fields;
      auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
      if (http) {
        status = http->statusCode();
        for (const auto& [name, value] : http->allHeaderFields()) fields.emplace_back(toLowerASCII(name), value);
      } else {
        // What a local load knows of itself, in the form pages read HTTP headers.
        std::string type = response->MIMEType();
        if (response->textEncodingName()) type += "; charset=" + *response->textEncodingName();
        if (!response->MIMEType().empty()) fields.emplace_back("content-type", type);
        if (response->expectedContentLength() >= 0)
          fields.emplace_back("content-length", std::to_string(response->expectedContentLength()));
      }
      JSValueList list;
      for (const auto& [name, value] : fields) list.push_back(js.makeArray({js.makeString(name), js.makeString(value)}));
      return JSValueList{js.makeNumber(static_cast<double>(status)), js.makeString(reasonPhrase(status)), js.makeArray(list),
                         js.makeString(response->URL() ? withoutFragment(response->URL()) : std::string()),
                         js.makeNumber(static_cast<double>(response->expectedContentLength()))};
    });
  }

  void progressed(long id, std::size_t received) {
    report(id, "progress", [&](JSContext& js) { return JSValueList{js.makeNumber(static_cast<double>(received))}; });
  }

  void finished(long id, const NSURLResponsePtr& response, Data body, std::optional<NSError> error) {
    auto it = loads_.find(id);
    if (it == loads_.end()) return;
    it->second.fetch.reset();
    if (!error && response && !it->second.responded) responded(id, response);
    it = loads_.find(id);
    if (it == loads_.end()) return;
    if (error) {
      NSLog("Loading " + (it->second.url ? it->second.url->absoluteString() : std::string("a page resource")) +
            " failed: " + error->localizedDescription);
    }
    it->second.body = std::move(body);
    if (response) it->second.response = response;
    report(id, "done", [&](JSContext& js) {
      return JSValueList{error ? js.makeString(error->localizedDescription) : js.null(), js.makeNumber(static_cast<double>(id))};
    });
    loads_.erase(id);
  }

  DocumentServices services_;
  std::map<long, Load> loads_;
  long nextId_ = 1;
};

}  // namespace

void installXMLHttpRequest(JSContext& js, const DocumentServices& services) {
  auto binding = std::make_shared<LoadBinding>(services);
  JSValue native = js.makeObject();
  auto define = [&](const char* name, JSContext::NativeCallback f) { native.setProperty(name, js.makeFunction(name, std::move(f))); };
  define("resolve", [resolve = services.resolve](JSContext& c, const JSValue&, const JSValueList& a) {
    NSURLPtr url = resolve && !a.empty() ? resolve(a[0].toString()) : nullptr;
    return url ? c.makeString(url->absoluteString()) : c.null();
  });
  define("send", [binding](JSContext& c, const JSValue&, const JSValueList& a) { return binding->send(c, a); });
  define("abort", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    if (!a.empty()) binding->abort(static_cast<long>(a[0].toNumber()));
    return c.undefined();
  });
  define("take", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    std::optional<std::string> charset = a.size() > 2 && a[2].isString() ? std::optional(a[2].toString()) : std::nullopt;
    return binding->take(c, a.empty() ? 0 : static_cast<long>(a[0].toNumber()), a.size() > 1 ? a[1].toString() : "text",
                         charset);
  });
  define("decode", [](JSContext& c, const JSValue&, const JSValueList& a) {
    Result<Value> bytes = a.empty() ? Result<Value>(Failure{""}) : a[0].toValue();
    std::optional<std::string> charset = a.size() > 1 && a[1].isString() ? std::optional(a[1].toString()) : std::nullopt;
    return c.makeString(bytes && bytes->isData() ? decodeText(bytes->asData(), charset) : std::string());
  });

  JSException exception;
  auto factory = js.evaluate(xhrScript, "harbor-xhr.js", 1, &exception);
  auto installed = factory ? factory->call({native, js.globalObject(), js.valueAtPath("DOMException"), js.valueAtPath("Event"),
                                            js.valueAtPath("Node.prototype")},
                                           JSValue(), &exception)
                           : Result<JSValue>(Failure{""});
  if (!installed) NSLog("The page engine could not set up XMLHttpRequest: " + exception.description());
}

}  // namespace plat::web
