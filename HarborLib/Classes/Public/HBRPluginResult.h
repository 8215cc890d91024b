#pragma once
// A plugin's answer to one page call: a status, a message (any JSON value, or none) and whether
// the page keeps its callback for further results. The associated object travels with the
// result on the native side only.
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/Object.h"
#include "plat/foundation/Value.h"

namespace harbor {

enum class HBRCommandStatus : int {
  NoResult = 0,
  OK = 1,
  ClassNotFoundException = 2,
  IllegalAccessException = 3,
  InstantiationException = 4,
  MalformedUrlException = 5,
  IOException = 6,
  InvalidAction = 7,
  JSONException = 8,
  Error = 9,
};

class HBRPluginResult;
using HBRPluginResultPtr = std::shared_ptr<HBRPluginResult>;

class HBRPluginResult {
 public:
  // The most text one message may take as JSON on its way to the page: the bridge's bound on a
  // text crossing it, the same that a page's values are read within. A plugin whose answer
  // would be larger refuses the work before doing it.
  static constexpr std::size_t kMaxMessageJSONBytes = std::size_t{1} << 28;

  HBRPluginResult();
  HBRPluginResult(HBRCommandStatus status, plat::Value message);

  static HBRPluginResultPtr resultWithStatus(HBRCommandStatus status);
  static HBRPluginResultPtr resultWithStatusMessageAsString(HBRCommandStatus status, std::string message);
  static HBRPluginResultPtr resultWithStatusMessageAsArray(HBRCommandStatus status, plat::Array message);
  static HBRPluginResultPtr resultWithStatusMessageAsInt(HBRCommandStatus status, std::int32_t message);
  static HBRPluginResultPtr resultWithStatusMessageAsNSInteger(HBRCommandStatus status, std::int64_t message);
  static HBRPluginResultPtr resultWithStatusMessageAsNSUInteger(HBRCommandStatus status, std::uint64_t message);
  static HBRPluginResultPtr resultWithStatusMessageAsDouble(HBRCommandStatus status, double message);
  static HBRPluginResultPtr resultWithStatusMessageAsBool(HBRCommandStatus status, bool message);
  static HBRPluginResultPtr resultWithStatusMessageAsDictionary(HBRCommandStatus status, plat::Dictionary message);
  static HBRPluginResultPtr resultWithStatusMessageAsArrayBuffer(HBRCommandStatus status, const plat::Data& message);
  static HBRPluginResultPtr resultWithStatusMessageAsMultipart(HBRCommandStatus status, const plat::Array& messages);
  static HBRPluginResultPtr resultWithStatusMessageToErrorObject(HBRCommandStatus status, std::int32_t errorCode);

  // The status texts, indexed by status number ("No result" ... "Error").
  static const std::string& statusText(HBRCommandStatus status);
  static void setVerbose(bool verbose);
  static bool isVerbose();

  HBRCommandStatus status() const { return status_; }
  const plat::Value& message() const { return message_; }
  bool keepCallback() const { return keepCallback_; }
  void setKeepCallbackAsBool(bool keep) { keepCallback_ = keep; }
  const plat::ObjectPtr& associatedObject() const { return associatedObject_; }
  void setAssociatedObject(plat::ObjectPtr object) { associatedObject_ = std::move(object); }

  // The message as one JSON value ("null" when there is none); nothing, with
  // "NSArray JSONString error: ..." logged, when the message cannot be written as JSON.
  std::optional<std::string> argumentsAsJSON() const;

 private:
  HBRCommandStatus status_;
  plat::Value message_;
  bool keepCallback_ = false;
  plat::ObjectPtr associatedObject_;
};

// {"HBRType":"ArrayBuffer","data":<Base64>}
plat::Dictionary arrayBufferWrapper(const plat::Data& bytes);

}  // namespace harbor
