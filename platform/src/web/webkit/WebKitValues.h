#pragma once
// What WebKit hands the engine, in the platform's terms: page values, load errors, navigation
// types.
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

#include "plat/foundation/NSError.h"
#include "plat/foundation/Value.h"
#include "plat/web/ScriptMessageBody.h"
#include "plat/web/WebPage.h"

namespace plat::web {

// The text, freed.
std::string takeString(char* text);

// A page value as a plat::Value (absent for undefined); nothing when it has no value form (a
// function) or when reading it would meet more values or text than the headless engine reads
// (ScriptMessageBodyReader's bounds, each part counted as often as it is met): WebKit hands the
// host a copy of whatever the page gives, and a page makes an array of length 2^32-1, or one of
// a long string many times over, at no cost. Past the bounds, unreadable (when given) hears why,
// with what a script message's receiver hears of the value (its head).
std::optional<Value> valueOf(JSCValue* value, std::optional<UnreadableBody>* unreadable = nullptr);

// A page's number: an integer when it is one that a double holds exactly (not -0), else the double.
Value numberValue(double number);

// WebKit's error for the load of uri as an NSURLErrorDomain error.
NSError errorOf(const GError* error, const std::string& uri);

WebNavigationType navigationTypeOf(WebKitNavigationType type);

}  // namespace plat::web
