#pragma once
// One call from the page: service, action, callback id and arguments. Immutable once built.
// ArrayBuffer wrappers among the top-level arguments arrive as bytes.
#include <memory>
#include <optional>
#include <string>

#include "plat/foundation/Value.h"

namespace harbor {

class HBRInvokedUrlCommand;
using HBRInvokedUrlCommandPtr = std::shared_ptr<const HBRInvokedUrlCommand>;

class HBRInvokedUrlCommand {
 public:
  // From a batch entry [callbackId, service, action, [arguments]]. Null when the entry does not
  // have that shape (the caller logs it); a callback id that is not a string is kept as an
  // invalid id, so that no result can be sent for it.
  static HBRInvokedUrlCommandPtr commandFromJson(const plat::Value& entry);

  HBRInvokedUrlCommand(plat::Array arguments, std::optional<std::string> callbackId, std::string className,
                       std::string methodName);

  const plat::Array& arguments() const { return arguments_; }
  // Absent when the page sent null.
  const std::optional<std::string>& callbackId() const { return callbackId_; }
  const std::string& className() const { return className_; }
  const std::string& methodName() const { return methodName_; }

  // The argument, or the default when the index is past the end or the argument is null.
  const plat::Value& argumentAtIndex(std::size_t index) const;
  plat::Value argumentAtIndex(std::size_t index, const plat::Value& defaultValue) const;
  // Also the default when the argument is not of the given type.
  plat::Value argumentAtIndex(std::size_t index, const plat::Value& defaultValue, plat::Value::Type type) const;

 private:
  plat::Array arguments_;
  std::optional<std::string> callbackId_;
  std::string className_;
  std::string methodName_;
};

}  // namespace harbor
