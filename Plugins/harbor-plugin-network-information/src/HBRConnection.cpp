#include "HBRConnection.h"

#include "plat/coretelephony/CTTelephonyNetworkInfo.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"

namespace harbor {
namespace {

constexpr char kDidEnterBackgroundNotification[] = "UIApplicationDidEnterBackgroundNotification";
constexpr char kWillEnterForegroundNotification[] = "UIApplicationWillEnterForegroundNotification";

std::string typeForRadioTechnology(const std::optional<std::string>& technology) {
  if (!technology) return "cellular";
  const std::string& t = *technology;
  if (t == plat::CTRadioAccessTechnologyGPRS || t == plat::CTRadioAccessTechnologyEdge) return "2g";
  for (const char* third : {plat::CTRadioAccessTechnologyWCDMA, plat::CTRadioAccessTechnologyHSDPA,
                            plat::CTRadioAccessTechnologyHSUPA, plat::CTRadioAccessTechnologyCDMA1x,
                            plat::CTRadioAccessTechnologyCDMAEVDORev0, plat::CTRadioAccessTechnologyCDMAEVDORevA,
                            plat::CTRadioAccessTechnologyCDMAEVDORevB, plat::CTRadioAccessTechnologyeHRPD})
    if (t == third) return "3g";
  if (t == plat::CTRadioAccessTechnologyLTE) return "4g";
  return "cellular";
}

}  // namespace

HBRConnection::HBRConnection() { registerAction("getConnectionInfo", &HBRConnection::getConnectionInfo); }

void HBRConnection::pluginInitialize() {
  setConnectionType("none");
  auto reach = HBRReachability::reachabilityForInternetConnection();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    internetReach_ = reach;
  }
  if (reach) {
    setConnectionType(w3cConnectionTypeFor(*reach));
    reach->startNotifier();
  }

  auto& center = plat::NSNotificationCenter::defaultCenter();
  std::shared_ptr<plat::Object> self = shared_from_this();
  std::weak_ptr<HBRConnection> weak = weakSelf<HBRConnection>();
  auto update = [weak](const plat::NSNotification& n) {
    if (auto p = weak.lock()) p->updateConnectionType(n);
  };
  center.addObserver(self, kReachabilityChangedNotification, nullptr, update);
  center.addObserver(self, plat::CTRadioAccessTechnologyDidChangeNotification, nullptr, update);
  center.addObserver(self, kDidEnterBackgroundNotification, nullptr, [weak](const plat::NSNotification&) {
    if (auto p = weak.lock()) p->onPause();
  });
  center.addObserver(self, kWillEnterForegroundNotification, nullptr, [weak](const plat::NSNotification&) {
    if (auto p = weak.lock()) p->onResume();
  });
}

void HBRConnection::getConnectionInfo(const HBRInvokedUrlCommandPtr& command) {
  callbackId_ = command->callbackId();
  sendPluginResult();
}

void HBRConnection::sendPluginResult() {
  auto delegate = commandDelegate();
  if (!delegate) return;
  auto result = HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, connectionType());
  result->setKeepCallbackAsBool(true);
  delegate->sendPluginResult(result, callbackId_);
}

void HBRConnection::updateConnectionType(const plat::NSNotification& notification) {
  // Radio-technology changes, and others posting under the same name, are not reachability
  // changes; the radio only matters once the route changes too.
  if (auto reachability = std::dynamic_pointer_cast<HBRReachability>(notification.object))
    updateReachability(reachability);
}

void HBRConnection::updateReachability(const std::shared_ptr<HBRReachability>& reachability) {
  if (reachability) {
    std::string type = w3cConnectionTypeFor(*reachability);
    if (type == connectionType()) return;
    setConnectionType(std::move(type));
  }
  sendPluginResult();
}

void HBRConnection::onPause() {
  if (auto reach = internetReach()) reach->stopNotifier();
}

void HBRConnection::onResume() {
  auto reach = internetReach();
  if (!reach) return;
  reach->startNotifier();
  updateReachability(reach);
}

std::string HBRConnection::w3cConnectionTypeFor(const HBRReachability& reachability) const {
  switch (reachability.currentReachabilityStatus()) {
    case ReachableViaWiFi:
      return "wifi";
    case NotReachable:
      return "none";
    case ReachableViaWWAN:
      if (reachability.connectionRequired()) return "none";
      if (plat::compareVersions(plat::UIDevice::currentDevice()->systemVersion(), "7.0") < 0) return "cellular";
      return typeForRadioTechnology(std::make_shared<plat::CTTelephonyNetworkInfo>()->currentRadioAccessTechnology());
  }
  return "unknown";
}

bool HBRConnection::isCellularConnection(const std::string& type) const {
  return type == "2g" || type == "3g" || type == "4g" || type == "cellular";
}

std::string HBRConnection::connectionType() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connectionType_;
}

void HBRConnection::setConnectionType(std::string type) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectionType_ = std::move(type);
}

std::shared_ptr<HBRReachability> HBRConnection::internetReach() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return internetReach_;
}

}  // namespace harbor
