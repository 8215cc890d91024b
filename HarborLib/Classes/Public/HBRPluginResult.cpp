#include "HBRPluginResult.h"

#include <array>
#include <atomic>

#include "HBRJSON.h"
#include "plat/foundation/JSON.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/web/ScriptMessageBody.h"

namespace harbor {
namespace {
std::atomic<bool> verbose{false};
}

static_assert(HBRPluginResult::kMaxMessageJSONBytes == plat::web::ScriptMessageBodyReader::kMaxTextBytes,
              "one bound for text crossing the bridge, either way");

plat::Dictionary arrayBufferWrapper(const plat::Data& bytes) {
  plat::Dictionary wrapper{{"HBRType", "ArrayBuffer"}};
  // Set rather than listed: an initializer list would copy the text, which may be megabytes.
  wrapper.set("data", plat::base64Encode(bytes));
  return wrapper;
}

HBRPluginResult::HBRPluginResult() : HBRPluginResult(HBRCommandStatus::NoResult, plat::Value()) {}

HBRPluginResult::HBRPluginResult(HBRCommandStatus status, plat::Value message)
    : status_(status), message_(std::move(message)) {}

HBRPluginResultPtr HBRPluginResult::resultWithStatus(HBRCommandStatus status) {
  return std::make_shared<HBRPluginResult>(status, plat::Value());
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus status, std::string message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(std::move(message)));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus status, plat::Array message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(std::move(message)));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsInt(HBRCommandStatus status, std::int32_t message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(message));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsNSInteger(HBRCommandStatus status, std::int64_t message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(message));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsNSUInteger(HBRCommandStatus status,
                                                                        std::uint64_t message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(message));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsDouble(HBRCommandStatus status, double message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(message));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsBool(HBRCommandStatus status, bool message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(message));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus status,
                                                                        plat::Dictionary message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(std::move(message)));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsArrayBuffer(HBRCommandStatus status,
                                                                         const plat::Data& message) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(arrayBufferWrapper(message)));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageAsMultipart(HBRCommandStatus status,
                                                                       const plat::Array& messages) {
  // Only the top level is wrapped; bytes inside nested arrays stay as they are.
  plat::Array wrapped;
  wrapped.reserve(messages.size());
  for (const plat::Value& m : messages) wrapped.push_back(m.isData() ? plat::Value(arrayBufferWrapper(m.asData())) : m);
  return std::make_shared<HBRPluginResult>(
      status, plat::Value(plat::Dictionary{{"HBRType", "MultiPart"}, {"messages", std::move(wrapped)}}));
}
HBRPluginResultPtr HBRPluginResult::resultWithStatusMessageToErrorObject(HBRCommandStatus status,
                                                                         std::int32_t errorCode) {
  return std::make_shared<HBRPluginResult>(status, plat::Value(plat::Dictionary{{"code", errorCode}}));
}

const std::string& HBRPluginResult::statusText(HBRCommandStatus status) {
  static const std::array<std::string, 10> texts = {
      "No result",    "OK",          "Class not found",   "Illegal access",   "Instantiation error",
      "Malformed url", "IO error",   "Invalid action",    "JSON error",       "Error",
  };
  static const std::string unknown;
  auto i = static_cast<std::size_t>(status);
  return i < texts.size() ? texts[i] : unknown;
}

void HBRPluginResult::setVerbose(bool v) { verbose = v; }
bool HBRPluginResult::isVerbose() { return verbose; }

std::optional<std::string> HBRPluginResult::argumentsAsJSON() const {
  // The message written compactly as one JSON value, in place: a payload of many megabytes is
  // neither copied into an array first nor cut out of one afterwards.
  auto text = plat::json::write(message_, {.allowFragments = true});
  if (!text) {
    plat::NSLog("NSArray JSONString error: " + text.error());
    return std::nullopt;
  }
  return std::move(*text);
}

}  // namespace harbor
