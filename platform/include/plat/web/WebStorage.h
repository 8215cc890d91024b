#pragma once
// Web storage of the headless page engine: localStorage kept in one SQLite database per origin,
// sessionStorage in memory per web page. Pages reach it as window.localStorage and
// window.sessionStorage; this header gives the rest of the platform (and tests) where the files
// are and what the limits are.
//
// The databases live where the device's web view keeps them, so that the container's web
// storage backup finds them: "<origin>.localstorage" in Library/Caches, or in
// Library/WebKit/LocalStorage when the user default "WebKitStoreWebDataForBackup" is set (the
// container's start-up repair chooses one of the two before any web view exists). File pages
// share the one file origin, "file__0"; an http page's origin is "http_<host>_<port>" (port 0
// when it is the scheme's default).
//
// Threads: main thread only.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "plat/foundation/NSURL.h"

namespace plat::web {

// Per origin and per kind of storage: keys and values count two bytes per UTF-16 unit.
inline constexpr std::size_t kWebStorageQuotaBytes = 5 * 1024 * 1024;

// The folder the localStorage databases are kept in now (see above).
std::string localStorageFolder();
// The name a page's origin gives its storage ("file__0", "http_example.com_0"); nothing for
// pages without an origin of their own (about:, data:, URLs without a host).
std::optional<std::string> webStorageOriginIdentifier(const NSURLPtr& documentURL);

// Held by the page engine around every change to a localStorage database and every opening of
// one. Whoever copies those files from another thread (the storage backup on its background
// queue) holds it while copying, so that a copy never catches a transaction half-written: the
// database file alone is whole only between transactions. Any thread.
std::recursive_mutex& webStorageFilesMutex();

}  // namespace plat::web
