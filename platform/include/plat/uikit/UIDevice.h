#pragma once
// Facts about the device the application runs on. On this platform they are simulated: the
// runner and tests set them, and they start as an "iPhone" running "iOS" "9.3" with
// multitasking. Any thread.
#include <memory>
#include <mutex>
#include <string>

#include "plat/foundation/Object.h"

namespace plat {

class UIDevice;
using UIDevicePtr = std::shared_ptr<UIDevice>;

class UIDevice : public Object {
 public:
  static UIDevicePtr currentDevice();
  // Tests: a fresh device with the starting facts.
  static void resetCurrentDevice();

  std::string model() const;
  std::string systemName() const;
  std::string systemVersion() const;
  bool isMultitaskingSupported() const;

  // Runner and tests.
  void setModel(std::string model);
  void setSystemName(std::string name);
  void setSystemVersion(std::string version);
  void setMultitaskingSupported(bool supported);

 private:
  mutable std::mutex mutex_;
  std::string model_ = "iPhone";
  std::string systemName_ = "iOS";
  std::string systemVersion_ = "9.3";
  bool multitasking_ = true;
};

}  // namespace plat
