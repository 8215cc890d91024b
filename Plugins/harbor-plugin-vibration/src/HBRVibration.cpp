#include "HBRVibration.h"

#include "plat/audiotoolbox/AudioServices.h"

namespace harbor {

HBRVibration::HBRVibration() { registerAction("vibrate", &HBRVibration::vibrate); }

void HBRVibration::vibrate(const HBRInvokedUrlCommandPtr& command) {
  plat::AudioServicesPlaySystemSound(plat::kSystemSoundID_Vibrate);
}

}  // namespace harbor
