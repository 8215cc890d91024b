#pragma once
// Tells the page what kind of connection the device has ("none", "wifi", "2g", "3g", "4g",
// "cellular", "unknown") and tells it again whenever that changes.
//
// Page action (main thread):
//   getConnectionInfo [] -> OK with the type name, keep-callback on; every later change of type
//                           goes to the callback of the latest getConnectionInfo
//
// The default route is watched while the application is in the foreground; in the background the
// watch pauses, and a change made meanwhile is reported once on return. A wired connection counts
// as "wifi", as the platform's flags cannot tell them apart.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "HBRReachability.h"

namespace harbor {

class HBRConnection : public HBRPlugin {
 public:
  HBRConnection();

  void pluginInitialize() override;

  void getConnectionInfo(const HBRInvokedUrlCommandPtr& command);
  // Sends the current type to the stored callback.
  void sendPluginResult();
  // Acts only on notifications whose object is a reachability watcher.
  void updateConnectionType(const plat::NSNotification& notification);
  // With a watcher: reports its type when it differs from the current one. Without: reports the
  // current type again.
  void updateReachability(const std::shared_ptr<HBRReachability>& reachability);
  void onPause();
  void onResume();

  std::string w3cConnectionTypeFor(const HBRReachability& reachability) const;
  bool isCellularConnection(const std::string& type) const;

  std::string connectionType() const;
  std::shared_ptr<HBRReachability> internetReach() const;

 private:
  void setConnectionType(std::string type);

  std::optional<std::string> callbackId_;
  mutable std::mutex mutex_;  // guards the two properties below
  std::shared_ptr<HBRReachability> internetReach_;
  std::string connectionType_;
};

}  // namespace harbor
