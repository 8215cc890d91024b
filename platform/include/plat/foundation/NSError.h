#pragma once
// An error with a domain, a code, a description and optional details, as platform calls report it.
#include <string>

#include "plat/foundation/Value.h"

namespace plat {

struct NSError {
  std::string domain;
  long code = 0;
  std::string localizedDescription;
  Value userInfo;  // a dictionary or absent

  // "Error Domain=<domain> Code=<code> \"<description>\"", like the platform's description.
  std::string description() const;
};

}  // namespace plat
