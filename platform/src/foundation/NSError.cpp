#include "plat/foundation/NSError.h"

namespace plat {

std::string NSError::description() const {
  return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription + "\"";
}

}  // namespace plat
