#include "plat/uikit/UIDevice.h"

namespace plat {
namespace {
std::mutex& deviceMutex() {
  static std::mutex m;
  return m;
}
UIDevicePtr& shared() {
  static UIDevicePtr* device = new UIDevicePtr(std::make_shared<UIDevice>());
  return *device;
}
}  // namespace

UIDevicePtr UIDevice::currentDevice() {
  std::lock_guard<std::mutex> lock(deviceMutex());
  return shared();
}

void UIDevice::resetCurrentDevice() {
  std::lock_guard<std::mutex> lock(deviceMutex());
  shared() = std::make_shared<UIDevice>();
}

std::string UIDevice::model() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_;
}
std::string UIDevice::systemName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return systemName_;
}
std::string UIDevice::systemVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return systemVersion_;
}
bool UIDevice::isMultitaskingSupported() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return multitasking_;
}
void UIDevice::setModel(std::string model) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_ = std::move(model);
}
void UIDevice::setSystemName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  systemName_ = std::move(name);
}
void UIDevice::setSystemVersion(std::string version) {
  std::lock_guard<std::mutex> lock(mutex_);
  systemVersion_ = std::move(version);
}
void UIDevice::setMultitaskingSupported(bool supported) {
  std::lock_guard<std::mutex> lock(mutex_);
  multitasking_ = supported;
}
UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idiom_;
}
void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom) {
  std::lock_guard<std::mutex> lock(mutex_);
  idiom_ = idiom;
}
UIDeviceOrientation UIDevice::orientation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return orientation_;
}
void UIDevice::setOrientation(UIDeviceOrientation orientation) {
  std::lock_guard<std::mutex> lock(mutex_);
  orientation_ = orientation;
}

}  // namespace plat
