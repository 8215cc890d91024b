#include "plat/uikit/UIImagePickerController.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "plat/avfoundation/MediaFormat.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/uikit/UIDriver.h"

namespace plat {
namespace {

struct Camera {
  bool camera = false;
  bool video = true;
  unsigned width = 640;
  unsigned height = 480;
};
std::mutex cameraMutex;
Camera camera;

Camera currentCamera() {
  std::lock_guard lock(cameraMutex);
  return camera;
}

bool wants(const std::vector<std::string>& types, const char* type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

void SimulatedCamera::setAvailable(bool hasCamera, bool video) {
  std::lock_guard lock(cameraMutex);
  camera.camera = hasCamera;
  camera.video = video;
}
bool SimulatedCamera::hasCamera() { return currentCamera().camera; }
bool SimulatedCamera::hasVideo() { return currentCamera().camera && currentCamera().video; }
void SimulatedCamera::setPictureSize(unsigned width, unsigned height) {
  std::lock_guard lock(cameraMutex);
  camera.width = std::max(1u, width);
  camera.height = std::max(1u, height);
}
unsigned SimulatedCamera::pictureWidth() { return currentCamera().width; }
unsigned SimulatedCamera::pictureHeight() { return currentCamera().height; }
void SimulatedCamera::reset() {
  std::lock_guard lock(cameraMutex);
  camera = Camera{};
}

bool UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceType source) {
  // The photo library is always there; the camera only when the device has one.
  return source != UIImagePickerControllerSourceType::Camera || SimulatedCamera::hasCamera();
}

std::optional<std::vector<std::string>> UIImagePickerController::availableMediaTypesForSourceType(
    UIImagePickerControllerSourceType source) {
  if (!isSourceTypeAvailable(source)) return std::nullopt;
  std::vector<std::string> types{kUTTypeImage};
  if (source != UIImagePickerControllerSourceType::Camera || SimulatedCamera::hasVideo()) types.push_back(kUTTypeMovie);
  return types;
}

void UIImagePickerController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  UIDriver::shared().pickerDidAppear(std::static_pointer_cast<UIImagePickerController>(shared_from_this()));
}

void UIImagePickerController::viewDidDisappear(bool animated) {
  UIDriver::shared().pickerDidDisappear(this);
  UIViewController::viewDidDisappear(animated);
}

bool UIImagePickerController::takePicture() {
  auto listener = delegate.lock();
  const bool photo = cameraCaptureMode == UIImagePickerControllerCameraCaptureMode::Photo ||
                     sourceType != UIImagePickerControllerSourceType::Camera;
  if (!listener || !photo || !wants(mediaTypes, kUTTypeImage)) return false;
  auto image = UIImage::imageWithCGImage(CGImageCreateBlank(SimulatedCamera::pictureWidth(), SimulatedCamera::pictureHeight()));
  listener->imagePickerControllerDidFinishPickingMediaWithInfo(*this, {std::string(kUTTypeImage), image, nullptr});
  return true;
}

bool UIImagePickerController::recordVideo(double seconds) {
  auto listener = delegate.lock();
  if (!listener || !(wants(mediaTypes, kUTTypeMovie) || wants(mediaTypes, kUTTypeVideo)) || !(seconds > 0)) return false;
  if (videoMaximumDuration > 0) seconds = std::min(seconds, videoMaximumDuration);
  const std::string path = stringByAppendingPathComponent(
      stringByStandardizingPath(NSTemporaryDirectory()), "capture-" + NSUUIDString() + ".MOV");
  if (!writeMovieFile(path, seconds, SimulatedCamera::pictureWidth(), SimulatedCamera::pictureHeight())) return false;
  listener->imagePickerControllerDidFinishPickingMediaWithInfo(
      *this, {std::string(kUTTypeMovie), nullptr, NSURL::fileURLWithPath(path)});
  return true;
}

bool UIImagePickerController::cancel() {
  auto listener = delegate.lock();
  if (!listener) return false;
  listener->imagePickerControllerDidCancel(*this);
  return true;
}

}  // namespace plat
