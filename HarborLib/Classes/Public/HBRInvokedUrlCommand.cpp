#include "HBRInvokedUrlCommand.h"

#include "plat/foundation/Strings.h"

namespace harbor {
namespace {

// A callback id the page sent as something other than a string or null: it can never match
// the callback-id rule, so results for it are refused instead of being sent somewhere.
const char kUnusableCallbackId[] = " ";

// Replaces top-level ArrayBuffer wrappers by their bytes. A wrapper whose "data" is missing, not
// a string, or not valid Base64 stays as it is.
void massageArguments(plat::Array& arguments) {
  for (plat::Value& argument : arguments) {
    if (!argument.isDictionary()) continue;
    const plat::Value& type = argument["HBRType"];
    if (!type.isString() || type.asString() != "ArrayBuffer") continue;
    const plat::Value& data = argument["data"];
    if (!data.isString()) continue;
    if (auto bytes = plat::base64Decode(data.asString())) argument = plat::Value(std::move(*bytes));
  }
}

}  // namespace

HBRInvokedUrlCommandPtr HBRInvokedUrlCommand::commandFromJson(const plat::Value& entry) {
  if (!entry.isArray() || entry.asArray().size() < 4) return nullptr;
  const plat::Value& id = entry.at(0);
  const plat::Value& service = entry.at(1);
  const plat::Value& action = entry.at(2);
  const plat::Value& args = entry.at(3);
  if (!service.isString() || !action.isString() || !args.isArray()) return nullptr;
  std::optional<std::string> callbackId;
  if (id.isString())
    callbackId = id.asString();
  else if (!id.isNull())
    callbackId = kUnusableCallbackId;
  return std::make_shared<HBRInvokedUrlCommand>(args.asArray(), std::move(callbackId), service.asString(),
                                                action.asString());
}

HBRInvokedUrlCommand::HBRInvokedUrlCommand(plat::Array arguments, std::optional<std::string> callbackId,
                                           std::string className, std::string methodName)
    : arguments_(std::move(arguments)),
      callbackId_(std::move(callbackId)),
      className_(std::move(className)),
      methodName_(std::move(methodName)) {
  massageArguments(arguments_);
}

const plat::Value& HBRInvokedUrlCommand::argumentAtIndex(std::size_t index) const {
  if (index >= arguments_.size() || arguments_[index].isNull()) return plat::absentValue();
  return arguments_[index];
}

plat::Value HBRInvokedUrlCommand::argumentAtIndex(std::size_t index, const plat::Value& defaultValue) const {
  const plat::Value& v = argumentAtIndex(index);
  return v.isAbsent() ? defaultValue : v;
}

plat::Value HBRInvokedUrlCommand::argumentAtIndex(std::size_t index, const plat::Value& defaultValue,
                                                  plat::Value::Type type) const {
  const plat::Value& v = argumentAtIndex(index);
  if (v.isAbsent()) return defaultValue;
  // Integers of either signedness are one class of number on the platform.
  bool sameClass = v.type() == type || (v.isInteger() && (type == plat::Value::Type::Int || type == plat::Value::Type::UInt));
  return sameClass ? v : defaultValue;
}

}  // namespace harbor
