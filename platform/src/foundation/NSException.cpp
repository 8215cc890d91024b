#include "plat/foundation/NSException.h"

#include <cstdarg>
#include <cstdlib>
#include <mutex>

#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"

namespace plat {
namespace {
std::mutex& handlerMutex() {
  static std::mutex m;
  return m;
}
NSAssertionHandler& currentHandler() {
  static NSAssertionHandler handler;
  return handler;
}
}  // namespace

void NSAssertionFailure(const std::string& reason) {
  NSLog("*** Assertion failure: " + reason);
  NSAssertionHandler handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex());
    handler = currentHandler();
  }
  if (handler) handler(reason);
  std::abort();
}

void NSAssertionFailuref(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string reason = vformat(fmt, args);
  va_end(args);
  NSAssertionFailure(reason);
}

NSAssertionHandler setAssertionHandler(NSAssertionHandler handler) {
  std::lock_guard<std::mutex> lock(handlerMutex());
  NSAssertionHandler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

NSAssertionHandler throwingAssertionHandler() {
  return [](const std::string& reason) { throw NSException(NSInternalInconsistencyException, reason); };
}

}  // namespace plat
