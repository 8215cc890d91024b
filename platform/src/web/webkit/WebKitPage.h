#pragma once
// The WebKit page engine (WebKitGTK 2.50, GTK 3): see plat/web/WebPage.h for what every engine
// does, and WebKitPage.cpp for how WebKit's signals map onto it.
#include <memory>
#include <string>

#include "plat/web/WebPage.h"

namespace plat::web {

// A page on WebKit; startWebKit must have succeeded.
std::shared_ptr<WebPage> makeWebKitPage();

// The folder WebKit keeps the pages' web storage in (localStorage, IndexedDB): the headless
// engine's storage folder (plat/web/WebStorage.h). WebKit writes, for file pages,
// "localstorage/file__0.localstorage" (SQLite in write-ahead mode, with its "-wal" and "-shm")
// and "databases/indexeddb/v1/file__0/<hash of the database name>/IndexedDB.sqlite3" there.
std::string webKitDataFolder();

}  // namespace plat::web
