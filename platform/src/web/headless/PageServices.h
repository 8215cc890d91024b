#pragma once
// Services a document of the page engine offers its scripts beyond the DOM stand-in: web
// storage (window.localStorage, window.sessionStorage) and loading (XMLHttpRequest, fetch).
// Each is installed once per document, after the DOM stand-in, and reaches the document only
// through DocumentServices, so it never keeps a torn-down document alive or runs in one.
//
// Threads: main thread only.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../PageResources.h"
#include "plat/foundation/NSURL.h"
#include "plat/web/JSContext.h"

namespace plat::web {

class StorageArea;

// sessionStorage of one web page: one area per origin, for as long as the page lives, across
// its navigations and reloads.
struct SessionStorage {
  std::map<std::string, std::shared_ptr<StorageArea>> areas;
};

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

struct DocumentServices {
  // The document's URL (its origin decides the storage area).
  std::function<NSURLPtr()> url;
  // A URL text of the page resolved against the document's base; null when it is no URL.
  std::function<NSURLPtr(const std::string&)> resolve;
  // Loads a resource as the document's own scripts load (same rules, same size limit); the
  // fetch stops with the document. The headers go with http(s) requests.
  std::function<std::shared_ptr<ResourceFetch>(const NSURLPtr&, const HeaderFields&, ResourceFetch::Completion)> fetch;
  // Holds the document for a call into its script from outside (a load's report); null when
  // the document is gone or closed, and then nothing may run.
  std::function<std::shared_ptr<void>()> enter;
  std::shared_ptr<SessionStorage> sessionStorage;
};

// window.localStorage and window.sessionStorage.
void installWebStorage(JSContext& js, const DocumentServices& services);
// window.XMLHttpRequest and window.fetch, for GET.
void installXMLHttpRequest(JSContext& js, const DocumentServices& services);

}  // namespace plat::web
