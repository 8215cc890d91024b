#include "plat/coretelephony/CTTelephonyNetworkInfo.h"

#include <mutex>

#include "plat/foundation/NSNotificationCenter.h"

namespace plat {
namespace {

std::mutex& radioMutex() {
  static std::mutex m;
  return m;
}
std::optional<std::string>& radioTechnology() {
  static auto* technology = new std::optional<std::string>();
  return *technology;
}

}  // namespace

std::optional<std::string> CTTelephonyNetworkInfo::currentRadioAccessTechnology() const {
  return SimulatedRadio::radioAccessTechnology();
}

std::optional<std::string> SimulatedRadio::radioAccessTechnology() {
  std::lock_guard<std::mutex> lock(radioMutex());
  return radioTechnology();
}

void SimulatedRadio::setRadioAccessTechnology(std::optional<std::string> technology) {
  {
    std::lock_guard<std::mutex> lock(radioMutex());
    if (radioTechnology() == technology) return;
    radioTechnology() = std::move(technology);
  }
  NSNotificationCenter::defaultCenter().post(CTRadioAccessTechnologyDidChangeNotification);
}

}  // namespace plat
