#include "plat/uikit/UIImagePickerController.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>

#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/avfoundation/MediaFormat.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSUUID.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIGraphics.h"

namespace plat {
namespace {

std::atomic<bool> gCameraAvailable{true};
std::atomic<bool> gCameraFilms{true};
std::atomic<std::size_t> gPictureWidth{640};
std::atomic<std::size_t> gPictureHeight{480};
std::atomic<long> gCameraAuthorization{AVAuthorizationStatusAuthorized};

}  // namespace

AVAuthorizationStatus AVCaptureDevice::authorizationStatusForMediaType(const std::string& mediaType) {
  if (mediaType != AVMediaTypeVideo) return AVAuthorizationStatusAuthorized;
  return static_cast<AVAuthorizationStatus>(gCameraAuthorization.load());
}

bool SimulatedCamera::isAvailable() { return gCameraAvailable.load(); }
void SimulatedCamera::setAvailable(bool available, bool video) {
  gCameraAvailable.store(available);
  gCameraFilms.store(video);
}
bool SimulatedCamera::hasVideo() { return gCameraAvailable.load() && gCameraFilms.load(); }
void SimulatedCamera::setPictureSize(std::size_t width, std::size_t height) {
  gPictureWidth.store(std::max<std::size_t>(1, width));
  gPictureHeight.store(std::max<std::size_t>(1, height));
}
std::size_t SimulatedCamera::pictureWidth() { return gPictureWidth.load(); }
std::size_t SimulatedCamera::pictureHeight() { return gPictureHeight.load(); }
AVAuthorizationStatus SimulatedCamera::authorizationStatus() {
  return static_cast<AVAuthorizationStatus>(gCameraAuthorization.load());
}
void SimulatedCamera::setAuthorizationStatus(AVAuthorizationStatus status) { gCameraAuthorization.store(status); }
void SimulatedCamera::reset() {
  gCameraAvailable.store(true);
  gCameraFilms.store(true);
  gPictureWidth.store(640);
  gPictureHeight.store(480);
  gCameraAuthorization.store(AVAuthorizationStatusAuthorized);
}

Dictionary SimulatedCamera::captureMetadata(std::size_t width, std::size_t height, UIImageOrientation orientation) {
  std::time_t t = static_cast<std::time_t>(std::floor(now() + kReferenceDateOffset));
  std::tm local{};
  localtime_r(&t, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y:%m:%d %H:%M:%S", &local);
  Dictionary exif{{"DateTimeOriginal", Value(date)},
                  {"DateTimeDigitized", Value(date)},
                  {"PixelXDimension", Value(static_cast<std::uint64_t>(width))},
                  {"PixelYDimension", Value(static_cast<std::uint64_t>(height))}};
  Dictionary tiff{{"Make", Value("Harbor")}, {"Model", Value("Simulated camera")},
                  {"Orientation", Value(ExifOrientationFromUIImageOrientation(orientation))}};
  return Dictionary{{kCGImagePropertyExifDictionary, Value(std::move(exif))},
                    {kCGImagePropertyTIFFDictionary, Value(std::move(tiff))}};
}

std::shared_ptr<UIImage> SimulatedTestPicture(std::size_t width, std::size_t height) {
  auto bitmap = CGImageCreateBlank(width, height);
  if (!bitmap) return nullptr;
  auto image = std::make_shared<CGImage>(*bitmap);
  static constexpr std::uint8_t kQuarters[4][3] = {{220, 40, 40}, {40, 180, 60}, {40, 80, 220}, {240, 200, 40}};
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const auto& c = kQuarters[(y * 2 / height) * 2 + (x * 2 / width)];
      std::uint8_t* p = &image->rgba[(y * width + x) * 4];
      double shade = 0.6 + 0.4 * double(x + y) / double(width + height);
      for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>(c[i] * shade);
      p[3] = 255;
    }
  }
  return UIImage::imageWithCGImage(image);
}

bool UIImagePickerController::isSourceTypeAvailable(long sourceType) {
  switch (sourceType) {
    case UIImagePickerControllerSourceTypeCamera:
      return SimulatedCamera::isAvailable();
    case UIImagePickerControllerSourceTypePhotoLibrary:
    case UIImagePickerControllerSourceTypeSavedPhotosAlbum:
      return true;
    default:
      return false;
  }
}

std::vector<std::string> UIImagePickerController::availableMediaTypesForSourceType(long sourceType) {
  if (!isSourceTypeAvailable(sourceType)) return {};
  if (sourceType == UIImagePickerControllerSourceTypeCamera && !SimulatedCamera::hasVideo()) return {kUTTypeImage};
  return {kUTTypeImage, kUTTypeMovie};
}

void UIImagePickerController::setDelegate(const std::shared_ptr<UIImagePickerControllerDelegate>& d) {
  delegate_ = d;
  setNavigationDelegate(d);
}

void UIImagePickerController::viewDidAppear(bool animated) {
  if (viewControllers().empty() && sourceType_ != UIImagePickerControllerSourceTypeCamera) {
    auto list = std::make_shared<UIViewController>();
    list->setTitle(sourceType_ == UIImagePickerControllerSourceTypeSavedPhotosAlbum ? "Saved Photos" : "Photos");
    initWithRootViewController(list);
  }
  UINavigationController::viewDidAppear(animated);
  onScreen_ = true;
  UIDriver::shared().pickerDidAppear(std::dynamic_pointer_cast<UIDrivenPicker>(self<UIImagePickerController>()));
}

void UIImagePickerController::viewDidDisappear(bool animated) {
  UINavigationController::viewDidDisappear(animated);
  onScreen_ = false;
  UIDriver::shared().pickerDidDisappear(this);
}

bool UIImagePickerController::offers(const std::string& mediaType) const {
  std::vector<std::string> types = mediaTypes_.empty() ? std::vector<std::string>{kUTTypeImage} : mediaTypes_;
  return std::find(types.begin(), types.end(), mediaType) != types.end();
}

std::shared_ptr<UIImage> UIImagePickerController::editedFrom(const UIImage& image) const {
  // The crop screen's frame starts on the middle square of the picture.
  CGSize size = image.size();
  double side = std::floor(std::min(size.width, size.height));
  if (side < 1) return nullptr;
  UIGraphicsBeginImageContext({side, side});
  image.drawInRect({{(side - size.width) * 0.5, (side - size.height) * 0.5}, size});
  auto edited = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return edited;
}

void UIImagePickerController::finish(const UIImagePickerMediaInfo& info) {
  auto keep = self<UIImagePickerController>();
  if (auto d = delegate()) d->imagePickerControllerDidFinishPickingMediaWithInfo(*this, info);
}

bool UIImagePickerController::pickImage(const std::shared_ptr<UIImage>& image) {
  if (!onScreen_ || !image || !image->CGImage() || sourceType_ != UIImagePickerControllerSourceTypeCamera ||
      cameraCaptureMode_ != UIImagePickerControllerCameraCaptureModePhoto || !offers(kUTTypeImage))
    return false;
  UIImagePickerMediaInfo info;
  info.mediaType = kUTTypeImage;
  info.originalImage = image;
  if (allowsEditing_) info.editedImage = editedFrom(*image);
  info.mediaMetadata =
      SimulatedCamera::captureMetadata(image->CGImage()->width, image->CGImage()->height, image->imageOrientation());
  finish(info);
  return true;
}

bool UIImagePickerController::pickAsset(const NSURLPtr& assetURL) {
  if (!onScreen_ || !assetURL || sourceType_ == UIImagePickerControllerSourceTypeCamera) return false;
  std::weak_ptr<UIImagePickerController> weak = self<UIImagePickerController>();
  auto library = std::make_shared<ALAssetsLibrary>();
  library->assetForURL(
      assetURL,
      [weak, library](const ALAssetPtr& asset) {
        auto picker = weak.lock();
        if (!picker || !picker->onScreen_ || !asset) return;
        auto representation = asset->defaultRepresentation();
        UIImagePickerMediaInfo info;
        info.referenceURL = asset->assetURL();
        if (asset->type() == ALAssetTypeVideo) {
          if (!picker->offers(kUTTypeMovie)) return;
          info.mediaType = kUTTypeMovie;
          info.mediaURL = asset->assetURL();
        } else {
          if (!picker->offers(kUTTypeImage)) return;
          Data bytes(static_cast<std::size_t>(std::max<std::int64_t>(0, representation->size())));
          bytes.resize(representation->getBytes(bytes.data(), 0, bytes.size()));
          auto image = UIImage::imageWithData(bytes);
          if (!image) return;
          info.mediaType = kUTTypeImage;
          info.originalImage = image;
          if (picker->allowsEditing_) info.editedImage = picker->editedFrom(*image);
        }
        picker->finish(info);
      },
      [](const NSError&) {});
  return true;
}

bool UIImagePickerController::pickMovie(const std::string& path) {
  if (!onScreen_ || !offers(kUTTypeMovie)) return false;
  UIImagePickerMediaInfo info;
  info.mediaType = kUTTypeMovie;
  info.mediaURL = NSURL::fileURLWithPath(path);
  finish(info);
  return true;
}

bool UIImagePickerController::takePicture() {
  if (!onScreen_ || sourceType_ != UIImagePickerControllerSourceTypeCamera) return false;
  return pickImage(SimulatedTestPicture(SimulatedCamera::pictureWidth(), SimulatedCamera::pictureHeight()));
}

bool UIImagePickerController::recordVideo(double seconds) {
  if (!onScreen_ || sourceType_ != UIImagePickerControllerSourceTypeCamera || !SimulatedCamera::hasVideo() ||
      !(seconds > 0))
    return false;
  if (!offers(kUTTypeMovie) && !offers(kUTTypeVideo)) return false;
  if (videoMaximumDuration_ > 0) seconds = std::min(seconds, videoMaximumDuration_);
  const std::string path = stringByAppendingPathComponent(stringByStandardizingPath(NSTemporaryDirectory()),
                                                          "capture-" + NSUUIDString() + ".MOV");
  if (!writeMovieFile(path, seconds, static_cast<unsigned>(SimulatedCamera::pictureWidth()),
                      static_cast<unsigned>(SimulatedCamera::pictureHeight())))
    return false;
  UIImagePickerMediaInfo info;
  info.mediaType = kUTTypeMovie;
  info.mediaURL = NSURL::fileURLWithPath(path);
  finish(info);
  return true;
}

bool UIImagePickerController::cancelPicking() {
  if (!onScreen_) return false;
  auto keep = self<UIImagePickerController>();
  if (auto d = delegate()) d->imagePickerControllerDidCancel(*this);
  return true;
}

}  // namespace plat
