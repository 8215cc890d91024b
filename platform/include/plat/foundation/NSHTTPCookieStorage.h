#pragma once
// The shared cookie store of the process, as far as the container sets it: its accept policy.
// Any thread.
#include <atomic>

namespace plat {

enum class NSHTTPCookieAcceptPolicy {
  Always = 0,
  Never = 1,
  OnlyFromMainDocumentDomain = 2,
};

class NSHTTPCookieStorage {
 public:
  static NSHTTPCookieStorage& sharedHTTPCookieStorage();

  // Starts as OnlyFromMainDocumentDomain.
  NSHTTPCookieAcceptPolicy cookieAcceptPolicy() const { return policy_.load(); }
  void setCookieAcceptPolicy(NSHTTPCookieAcceptPolicy policy) { policy_.store(policy); }

 private:
  std::atomic<NSHTTPCookieAcceptPolicy> policy_{NSHTTPCookieAcceptPolicy::OnlyFromMainDocumentDomain};
};

}  // namespace plat
