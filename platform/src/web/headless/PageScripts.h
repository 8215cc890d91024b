#pragma once
// The page engine's scripts that are kept as .js files beside this one (compiled in as text by
// EmbedScript.cmake). Each is a function expression called once per document.

namespace plat::web {

// storage.js: (function (native, win, DOMException) {...}): localStorage and sessionStorage.
extern const char storageScript[];
// xhr.js: (function (native, win, DOMException, Event, EventTargetPrototype) {...}):
// XMLHttpRequest and fetch.
extern const char xhrScript[];

}  // namespace plat::web
