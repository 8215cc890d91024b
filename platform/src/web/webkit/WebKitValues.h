#pragma once
// What WebKit hands the engine, in the platform's terms: page values, load errors, navigation
// types.
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Value.h"
#include "plat/web/WebPage.h"

namespace plat::web {

// The text, freed.
std::string takeString(char* text);

// A page value as a plat::Value (absent for undefined); nothing when it has no value form (a
// function).
std::optional<Value> valueOf(JSCValue* value);

// WebKit's error for the load of uri as an NSURLErrorDomain error.
NSError errorOf(const GError* error, const std::string& uri);

WebNavigationType navigationTypeOf(WebKitNavigationType type);

}  // namespace plat::web
