#include "HBRLogger.h"

#include "plat/foundation/Log.h"
#include "plat/foundation/TextCut.h"

namespace harbor {
namespace {

// What the log shows for a page value: text as it is, "(null)" for nothing, anything else as
// its short description; cut as every page text is (the page's module cuts its lines already,
// but a page may call the plugin itself).
std::string logText(const plat::Value& value) {
  if (value.isString()) return plat::cutPageText(value.asString());
  if (value.isNil()) return "(null)";
  return plat::cutPageText(value.description());
}

}  // namespace

HBRLogger::HBRLogger() { registerAction("logLevel", &HBRLogger::logLevel); }

void HBRLogger::logLevel(const HBRInvokedUrlCommandPtr& command) {
  std::string level = logText(command->argumentAtIndex(0));
  std::string message = logText(command->argumentAtIndex(1));
  // The page's text is written as it stands; it never becomes a format.
  if (level == "LOG")
    plat::NSLog(message);
  else
    plat::NSLog(level + ": " + message);
}

}  // namespace harbor
