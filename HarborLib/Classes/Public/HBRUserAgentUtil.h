#pragma once
// The user agent of the container's web views, and the lock that orders page loads around it.
//
// The container sets the user agent process-wide (as the registered "UserAgent" default) right
// before it starts a page load, so two loads must not overlap between setting it and finishing:
// a load first takes the lock, a numbered token, and the engine gives it back when the page
// has loaded or failed. Requests that arrive while the lock is held wait, oldest first, and are
// granted from inside the release that frees the lock. Tokens are never reused.
//
// The web view's own default user agent is measured with a throw-away web view and kept, in
// memory and in the user defaults ("Harbor-User-Agent"), together with the device model,
// system version and locale it was measured under ("Harbor-User-Agent-Version"). It is measured
// again only when those change (a locale change is also heard while running).
//
// Main thread only; the lock has no other guard. Granted blocks run synchronously inside
// acquireLock or releaseLock.
#include <cstdint>
#include <functional>
#include <string>

#include "plat/foundation/NSNotificationCenter.h"

namespace harbor {

inline constexpr char kHBRUserAgentKey[] = "Harbor-User-Agent";
inline constexpr char kHBRUserAgentVersionKey[] = "Harbor-User-Agent-Version";

class HBRUserAgentUtil {
 public:
  using LockBlock = std::function<void(std::int64_t lockToken)>;

  // The web view's default user agent (measured when needed, see above).
  static std::string originalUserAgent();
  // Forgets the kept default user agent, so the next originalUserAgent measures again.
  static void onAppLocaleDidChange(const plat::NSNotification& notification);

  // Runs block at once with a new token when the lock is free; else queues it.
  static void acquireLock(LockBlock block);
  // Releases the lock held under *lockToken and hands it to the oldest waiting request (logging
  // "Gave lock %ld"). *lockToken becomes 0 before the next holder runs, so a second release
  // through the same field does nothing. A token other than the current one is an assertion
  // failure "Got token %ld, expected %ld".
  static void releaseLock(std::int64_t* lockToken);
  // Registers value as the "UserAgent" default for web views made from now on. The token must be
  // the current one ("Got token %ld, expected %ld" otherwise).
  static void setUserAgent(const std::string& value, std::int64_t lockToken);

  // Test surface.
  static std::int64_t currentLockToken();
  static std::size_t waitingRequestCount();
  // Frees the lock, drops waiting requests, restarts the numbering and forgets the kept user agent.
  static void resetForTesting();
};

}  // namespace harbor
