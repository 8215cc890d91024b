#pragma once
// The container's JSON helpers. They log failures with fixed texts and return nothing instead of
// throwing: arrays are written compactly, dictionaries pretty-printed, and text is read into
// values (containers only, or any value with the fragment reader).
#include <optional>
#include <string>
#include <string_view>

#include "plat/foundation/Value.h"

namespace harbor {

// Compact JSON of the array; logs "NSArray JSONString error: <reason>" on failure.
std::optional<std::string> hbr_JSONString(const plat::Array& array);
// Pretty-printed JSON of the dictionary; logs "NSDictionary JSONString error: <reason>".
std::optional<std::string> hbr_JSONString(const plat::Dictionary& dictionary);
// An array or dictionary read from text; absent (and "NSString JSONObject error: <reason>"
// logged) when the text is not JSON or is a bare scalar.
plat::Value hbr_JSONObject(std::string_view text);
// Like hbr_JSONObject, but a bare scalar is accepted too.
plat::Value hbr_JSONFragment(std::string_view text);

}  // namespace harbor
