#include "HBRJSON.h"

#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"

namespace harbor {

std::optional<std::string> hbr_JSONString(const plat::Array& array) {
  auto text = plat::json::write(array);
  if (!text) {
    plat::NSLog("NSArray JSONString error: " + text.error());
    return std::nullopt;
  }
  return std::move(*text);
}

std::optional<std::string> hbr_JSONString(const plat::Dictionary& dictionary) {
  auto text = plat::json::write(dictionary, {.pretty = true});
  if (!text) {
    plat::NSLog("NSDictionary JSONString error: " + text.error());
    return std::nullopt;
  }
  return std::move(*text);
}

static plat::Value readJSON(std::string_view text, bool fragments) {
  auto value = plat::json::parse(text, {.allowFragments = fragments});
  if (!value) {
    plat::NSLog("NSString JSONObject error: " + value.error());
    return plat::Value();
  }
  return std::move(*value);
}

plat::Value hbr_JSONObject(std::string_view text) { return readJSON(text, false); }
plat::Value hbr_JSONFragment(std::string_view text) { return readJSON(text, true); }

}  // namespace harbor
