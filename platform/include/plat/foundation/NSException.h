#pragma once
// Assertion failures: a programming error or a broken installation that must stop the program
// (a missing config.xml, a user-agent lock released with the wrong token). The failure is
// logged as "*** Assertion failure: <reason>" and then handed to the assertion handler. The
// default handler aborts; tests install one that throws NSException so that they can check the
// reason and go on. Code after a failed assertion never runs: if a handler returns, the process
// aborts.
#include <functional>
#include <stdexcept>
#include <string>

namespace plat {

// What a test's assertion handler throws.
class NSException : public std::runtime_error {
 public:
  NSException(std::string name, const std::string& reason)
      : std::runtime_error(reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  std::string reason() const { return what(); }

 private:
  std::string name_;
};

inline constexpr char NSInternalInconsistencyException[] = "NSInternalInconsistencyException";

using NSAssertionHandler = std::function<void(const std::string& reason)>;

// Logs the reason and calls the handler; aborts when the handler returns.
[[noreturn]] void NSAssertionFailure(const std::string& reason);
// printf-style convenience.
[[noreturn]] void NSAssertionFailuref(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Installs a handler (nullptr restores the aborting one); returns the previous handler.
NSAssertionHandler setAssertionHandler(NSAssertionHandler handler);
// A handler that throws NSException(NSInternalInconsistencyException, reason): for tests.
NSAssertionHandler throwingAssertionHandler();

}  // namespace plat
