#include "plat/web/WebStorage.h"

#include "PageScripts.h"
#include "PageServices.h"
#include "StorageArea.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/Strings.h"

namespace plat::web {
namespace {

// Origin names become file names: anything but letters, digits, '.', '-' and '_' is escaped,
// so no host can reach outside the folder.
std::string fileSafe(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::optional<long> defaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return std::nullopt;
}

// What a document's scripts reach through window.localStorage and window.sessionStorage: the
// two areas of its origin, found on first use.
class StorageBinding {
 public:
  explicit StorageBinding(const DocumentServices& services)
      : url_(services.url),
        sessions_(services.sessionStorage ? services.sessionStorage : std::make_shared<SessionStorage>()) {}

  bool available() { return origin().has_value(); }

  StorageArea& area(const JSValue& kind) {
    const std::optional<std::string>& name = origin();
    if (!name) throw JSError("The operation is insecure.");
    if (kind.toString() == "session") {
      if (!session_) {
        auto& slot = sessions_->areas[*name];
        if (!slot) slot = std::make_shared<StorageArea>();
        session_ = slot;
      }
      return *session_;
    }
    if (!local_) {
      local_ = StorageArea::localArea(stringByAppendingPathComponent(localStorageFolder(), *name + ".localstorage"));
      // Shared with earlier documents: the file may have been restored or purged meanwhile.
      local_->refresh();
    }
    return *local_;
  }

 private:
  const std::optional<std::string>& origin() {
    if (!originKnown_) {
      origin_ = webStorageOriginIdentifier(url_ ? url_() : nullptr);
      originKnown_ = true;
    }
    return origin_;
  }

  std::function<NSURLPtr()> url_;
  std::shared_ptr<SessionStorage> sessions_;
  bool originKnown_ = false;
  std::optional<std::string> origin_;
  std::shared_ptr<StorageArea> local_;
  std::shared_ptr<StorageArea> session_;
};

std::u16string textArgument(const JSValueList& arguments, std::size_t index) {
  if (index >= arguments.size()) return {};
  return arguments[index].toUTF16().value_or(std::u16string());
}

JSValue refusalValue(JSContext& js, const std::optional<StorageArea::Refusal>& refusal) {
  if (!refusal) return js.null();
  JSValue object = js.makeObject();
  object.setProperty("name", js.makeString(refusal->name));
  object.setProperty("message", js.makeString(refusal->message));
  return object;
}

}  // namespace

std::recursive_mutex& webStorageFilesMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::string localStorageFolder() {
  auto library = NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true);
  std::string folder = library.empty() ? NSHomeDirectory() + "/Library" : library.front();
  bool forBackup = NSUserDefaults::standardUserDefaults()->boolForKey("WebKitStoreWebDataForBackup");
  return stringByAppendingPathComponent(folder, forBackup ? "WebKit/LocalStorage" : "Caches");
}

std::optional<std::string> webStorageOriginIdentifier(const NSURLPtr& url) {
  if (!url || !url->scheme()) return std::nullopt;
  std::string scheme = toLowerASCII(*url->scheme());
  if (scheme == "file") return std::string("file__0");
  std::string host = toLowerASCII(url->host().value_or(""));
  if (host.empty()) return std::nullopt;
  std::optional<long> port = url->port() ? std::optional<long>(*url->port()) : std::nullopt;
  if (port && port == defaultPort(scheme)) port.reset();
  return fileSafe(scheme) + "_" + fileSafe(host) + "_" + std::to_string(port.value_or(0));
}

void installWebStorage(JSContext& js, const DocumentServices& services) {
  auto binding = std::make_shared<StorageBinding>(services);
  JSValue native = js.makeObject();
  auto define = [&](const char* name, JSContext::NativeCallback f) { native.setProperty(name, js.makeFunction(name, std::move(f))); };

  define("available", [binding](JSContext& c, const JSValue&, const JSValueList&) {
    return c.makeBool(binding->available());
  });
  define("getItem", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    const std::u16string* value = binding->area(a.at(0)).getItem(textArgument(a, 1));
    return value ? c.makeStringUTF16(*value) : c.null();
  });
  define("setItem", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    return refusalValue(c, binding->area(a.at(0)).setItem(textArgument(a, 1), textArgument(a, 2)));
  });
  define("removeItem", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    return refusalValue(c, binding->area(a.at(0)).removeItem(textArgument(a, 1)));
  });
  define("clear", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    return refusalValue(c, binding->area(a.at(0)).clear());
  });
  define("key", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    double index = a.size() > 1 ? a[1].toNumber() : 0;
    const std::u16string* key = binding->area(a.at(0)).key(static_cast<std::size_t>(index));
    return key ? c.makeStringUTF16(*key) : c.null();
  });
  define("length", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    return c.makeNumber(static_cast<double>(binding->area(a.at(0)).length()));
  });
  define("keys", [binding](JSContext& c, const JSValue&, const JSValueList& a) {
    JSValueList keys;
    for (const std::u16string& key : binding->area(a.at(0)).keys()) keys.push_back(c.makeStringUTF16(key));
    return c.makeArray(keys);
  });

  JSException exception;
  auto factory = js.evaluate(storageScript, "harbor-storage.js", 1, &exception);
  auto installed = factory ? factory->call({native, js.globalObject(), js.valueAtPath("DOMException")}, JSValue(), &exception)
                           : Result<JSValue>(Failure{""});
  if (!installed) NSLog("The page engine could not set up web storage: " + exception.description());
}

}  // namespace plat::web
