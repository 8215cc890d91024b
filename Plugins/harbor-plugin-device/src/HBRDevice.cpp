#include "HBRDevice.h"

#include "UIDevice+ModelVersion.h"
#include "plat/foundation/NSUUID.h"
#include "plat/foundation/NSUserDefaults.h"
#include "plat/foundation/Strings.h"

namespace harbor {

HBRDevice::HBRDevice() { registerAction("getDeviceInfo", &HBRDevice::getDeviceInfo); }

void HBRDevice::getDeviceInfo(const HBRInvokedUrlCommandPtr& command) {
  auto delegate = commandDelegate();
  if (!delegate) return;
  delegate->sendPluginResult(
      HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, deviceProperties()),
      command->callbackId());
}

plat::Dictionary HBRDevice::deviceProperties() {
  auto device = plat::UIDevice::currentDevice();
  plat::Dictionary properties;
  properties.set("manufacturer", "Apple");
  properties.set("model", modelVersion(*device));
  properties.set("platform", "iOS");
  properties.set("version", device->systemVersion());
  properties.set("uuid", uniqueAppInstanceIdentifier(*device));
  properties.set("harbor", harborVersion());
  properties.set("isVirtual", isVirtual());
  return properties;
}

std::string HBRDevice::uniqueAppInstanceIdentifier(const plat::UIDevice& device) {
  auto defaults = plat::NSUserDefaults::standardUserDefaults();
  plat::Value stored = defaults->objectForKey(kHBRDeviceUUIDDefaultsKey);
  if (stored.isString() && !stored.asString().empty()) return stored.asString();

  // Without a vendor identifier (the device may not have handed one out yet) the installation
  // still needs an identity of its own; once stored it never changes.
  std::string identifier = device.identifierForVendor().value_or(plat::NSUUIDString());
  defaults->setObject(identifier, kHBRDeviceUUIDDefaultsKey);
  defaults->synchronize();
  return identifier;
}

std::string HBRDevice::harborVersion() { return plat::format("%d.%d.%d", 4, 2, 0); }

}  // namespace harbor
