#pragma once
// The geolocation plugin's page-facing state: the last position and who waits for the next.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/foundation/Object.h"

namespace harbor {

class HBRLocationData : public plat::Object {
 public:
  // The last position received, or null.
  plat::CLLocationPtr locationInfo;
  // One-shot requests waiting for the next position, in the order they came.
  std::optional<std::vector<std::string>> locationCallbacks;
  // Watch id (as the page sent it; numbers and other values by their JSON text) to callback id.
  std::optional<std::map<std::string, std::string>> watchCallbacks;
};

}  // namespace harbor
