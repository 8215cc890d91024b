#include "plat/foundation/NSHTTPCookieStorage.h"

namespace plat {

NSHTTPCookieStorage& NSHTTPCookieStorage::sharedHTTPCookieStorage() {
  static NSHTTPCookieStorage* storage = new NSHTTPCookieStorage();
  return *storage;
}

}  // namespace plat
