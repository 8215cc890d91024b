#pragma once
// The compass: single heading requests and one heading watch, served from the location
// service's heading updates. Headings go to the page as
//   {"timestamp": ms since 1970, "magneticHeading": degrees, "trueHeading": null,
//    "headingAccuracy": degrees}
// and failures as Error (9) with a bare code: 20 without heading support, 0 after a heading
// failure.
//
// Page actions (main thread):
//   getHeading         [options?] -> one heading, keep-callback off, with the first heading when
//                                    heading is starting, else at once; options with "filter"
//                                    make it a watchHeadingFilter
//   watchHeadingFilter [{"filter": degrees}] -> headings, keep-callback on, one per change of at
//                                    least that many degrees; a second watch ends the first
//   stopHeading        [] -> nothing of its own; the watch gets one last heading, keep-callback
//                                    off, and heading stops
// Without a watch, heading stops by itself at the first update more than 10 s after the last
// answer. A new page (reset) stops heading without answers.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "HBRHeadingData.h"
#include "HBRPlugin.h"
#include "plat/corelocation/CLLocationManager.h"

namespace harbor {

class HBRCompass : public HBRPlugin, public plat::CLLocationManagerDelegate {
 public:
  HBRCompass();
  ~HBRCompass() override;

  void pluginInitialize() override;
  void onReset() override;

  void getHeading(const HBRInvokedUrlCommandPtr& command);
  void watchHeadingFilter(const HBRInvokedUrlCommandPtr& command);
  void stopHeading(const HBRInvokedUrlCommandPtr& command);

  bool hasHeadingSupport() const;
  void startHeadingWithFilter(double filter);
  void returnHeadingInfo(const std::string& callbackId, bool keepCallback);

  void locationManagerDidUpdateHeading(plat::CLLocationManager& manager, const plat::CLHeadingPtr& heading) override;
  void locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) override;
  bool locationManagerShouldDisplayHeadingCalibration(plat::CLLocationManager& manager) override { return true; }

  // Atomic: read and replaced as one pointer.
  std::shared_ptr<HBRHeadingData> headingData() const { return headingData_.load(); }
  void setHeadingData(std::shared_ptr<HBRHeadingData> data) { headingData_.store(std::move(data)); }
  const std::shared_ptr<plat::CLLocationManager>& locationManager() const { return locationManager_; }

 private:
  void sendError(const std::string& callbackId, int code, bool keepCallback = false);

  bool locationStarted_ = false;
  bool highAccuracyEnabled_ = false;
  std::atomic<std::shared_ptr<HBRHeadingData>> headingData_;
  std::shared_ptr<plat::CLLocationManager> locationManager_;
};

}  // namespace harbor
