#pragma once
// The cellular radio: which access technology the device is on. There is no radio here, so the
// technology is simulated: tests and the runner set it, and every change is announced with
// CTRadioAccessTechnologyDidChangeNotification (no object), posted on the setting thread.
#include <optional>
#include <string>

#include "plat/foundation/Object.h"

namespace plat {

inline constexpr char CTRadioAccessTechnologyGPRS[] = "CTRadioAccessTechnologyGPRS";
inline constexpr char CTRadioAccessTechnologyEdge[] = "CTRadioAccessTechnologyEdge";
inline constexpr char CTRadioAccessTechnologyWCDMA[] = "CTRadioAccessTechnologyWCDMA";
inline constexpr char CTRadioAccessTechnologyHSDPA[] = "CTRadioAccessTechnologyHSDPA";
inline constexpr char CTRadioAccessTechnologyHSUPA[] = "CTRadioAccessTechnologyHSUPA";
inline constexpr char CTRadioAccessTechnologyCDMA1x[] = "CTRadioAccessTechnologyCDMA1x";
inline constexpr char CTRadioAccessTechnologyCDMAEVDORev0[] = "CTRadioAccessTechnologyCDMAEVDORev0";
inline constexpr char CTRadioAccessTechnologyCDMAEVDORevA[] = "CTRadioAccessTechnologyCDMAEVDORevA";
inline constexpr char CTRadioAccessTechnologyCDMAEVDORevB[] = "CTRadioAccessTechnologyCDMAEVDORevB";
inline constexpr char CTRadioAccessTechnologyeHRPD[] = "CTRadioAccessTechnologyeHRPD";
inline constexpr char CTRadioAccessTechnologyLTE[] = "CTRadioAccessTechnologyLTE";

inline constexpr char CTRadioAccessTechnologyDidChangeNotification[] = "CTRadioAccessTechnologyDidChangeNotification";

class CTTelephonyNetworkInfo : public Object {
 public:
  // Any thread. Nothing when the device is on no cellular network.
  std::optional<std::string> currentRadioAccessTechnology() const;
};

// The test and runner surface of the simulated radio.
class SimulatedRadio {
 public:
  // Any thread. Posts the change notification when the technology differs from the current one.
  static void setRadioAccessTechnology(std::optional<std::string> technology);
  static std::optional<std::string> radioAccessTechnology();
};

}  // namespace plat
