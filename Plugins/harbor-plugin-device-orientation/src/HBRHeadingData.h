#pragma once
// The compass's heading state while heading updates run: who waits for the first heading, who
// watches, and the last heading seen.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plat/corelocation/CLLocationManager.h"
#include "plat/foundation/Object.h"

namespace harbor {

enum HBRHeadingStatus : std::uint64_t {
  HEADINGSTOPPED = 0,
  HEADINGSTARTING = 1,
  HEADINGRUNNING = 2,
  HEADINGERROR = 3,
};

class HBRHeadingData : public plat::Object {
 public:
  HBRHeadingData() { headingCallbacks.reserve(1); }

  std::uint64_t headingStatus = HEADINGSTOPPED;
  plat::CLHeadingPtr headingInfo;
  // Single requests waiting for the first heading, in the order they came.
  std::vector<std::string> headingCallbacks;
  // The callback id of the active watch (the filter angle itself goes to the location manager).
  std::optional<std::string> headingFilter;
  // When a heading answer was last attempted, on the platform clock.
  std::optional<double> headingTimestamp;
  // Seconds without an answer after which heading stops when nobody watches.
  std::int64_t timeout = 10;
};

}  // namespace harbor
