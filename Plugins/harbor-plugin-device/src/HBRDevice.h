#pragma once
// Facts about the device for the page.
//
// Page action (main thread):
//   getDeviceInfo [] -> OK with {"manufacturer", "model", "platform", "version", "uuid",
//                       "harbor", "isVirtual"}
//
// "uuid" is chosen once per installation and kept in the user defaults under "HBRUUID": the
// vendor identifier when there is one, else a random UUID.
#include <string>

#include "HBRPlugin.h"
#include "plat/uikit/UIDevice.h"

namespace harbor {

inline constexpr char kHBRDeviceUUIDDefaultsKey[] = "HBRUUID";

class HBRDevice : public HBRPlugin {
 public:
  HBRDevice();

  void getDeviceInfo(const HBRInvokedUrlCommandPtr& command);
  plat::Dictionary deviceProperties();
  std::string uniqueAppInstanceIdentifier(const plat::UIDevice& device);
  static std::string harborVersion();
  bool isVirtual() const { return false; }
};

}  // namespace harbor
