#pragma once
// Random (version 4) UUIDs, for names that must not collide: temporary copies, identifiers.
#include <string>

namespace plat {

// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F": upper-case hex, as the platform writes them.
std::string NSUUIDString();

}  // namespace plat
