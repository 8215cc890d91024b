#pragma once
// The protocol classes every process has: file:, data:, and http(s) over libcurl.
#include <memory>
#include <vector>

#include "plat/foundation/NSURLProtocol.h"

namespace plat {

const std::vector<std::shared_ptr<const NSURLProtocol::Class>>& builtInURLProtocolClasses();

}  // namespace plat
