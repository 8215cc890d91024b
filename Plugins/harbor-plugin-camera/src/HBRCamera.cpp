#include "HBRCamera.h"

#include <cmath>
#include <ctime>
#include <set>

#include "HBRPreferences.h"
#include "HBRTemporaryFiles.h"
#include "UIImage+CropScaleOrientation.h"
#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIDevice.h"
#include "plat/uikit/UIView.h"

namespace harbor {
namespace {

constexpr char kNoCamera[] = "No camera available";
constexpr char kNoCameraAccess[] = "has no access to camera";
constexpr char kNoAssetsAccess[] = "has no access to assets";
constexpr char kNoImageSelected[] = "no image selected";
constexpr char kInvalidDestination[] = "Invalid destination type";
constexpr char kInvalidEncoding[] = "Invalid encoding type";
constexpr char kEncodeFailed[] = "The picture could not be encoded";
constexpr char kCleanupFailed[] = "One or more files failed to be deleted.";
constexpr char kCameraProhibited[] =
    "Access to the camera has been prohibited; please enable it in the Settings app to continue.";

// The popover arrows the page may ask for: up, down, left, right and any.
const std::set<long>& acceptedArrowDirections() {
  static const std::set<long> directions{plat::UIPopoverArrowDirectionUp, plat::UIPopoverArrowDirectionDown,
                                         plat::UIPopoverArrowDirectionLeft, plat::UIPopoverArrowDirectionRight,
                                         plat::UIPopoverArrowDirectionAny};
  return directions;
}

HBRPluginResultPtr okText(std::string text) {
  return HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::OK, std::move(text));
}
HBRPluginResultPtr errorText(std::string text) {
  return HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::Error, std::move(text));
}
HBRPluginResultPtr ioError(std::string text) {
  return HBRPluginResult::resultWithStatusMessageAsString(HBRCommandStatus::IOException, std::move(text));
}

bool offersImages(const plat::UIImagePickerController& picker) {
  const auto& types = picker.mediaTypes();
  return std::find(types.begin(), types.end(), plat::kUTTypeImage) != types.end();
}

// Whether a position can be had for the picture without waiting for good: location services on,
// permission not refused, and, while undecided, a usage description to ask with.
bool locationUsable() {
  if (!plat::CLLocationManager::locationServicesEnabled()) return false;
  switch (plat::CLLocationManager::authorizationStatus()) {
    case plat::kCLAuthorizationStatusDenied:
    case plat::kCLAuthorizationStatusRestricted:
      return false;
    case plat::kCLAuthorizationStatusNotDetermined: {
      auto bundle = plat::NSBundle::mainBundle();
      return bundle && bundle->objectForInfoDictionaryKey(plat::kNSLocationWhenInUseUsageDescription).isString();
    }
    default:
      return true;
  }
}

std::string utcFormat(double referenceSeconds, const char* format) {
  std::time_t t = static_cast<std::time_t>(std::floor(referenceSeconds + plat::kReferenceDateOffset));
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

plat::Dictionary gpsDictionary(const plat::CLLocation& location) {
  plat::Dictionary gps;
  double latitude = location.coordinate().latitude;
  gps.set(plat::kCGImagePropertyGPSLatitudeRef, latitude < 0 ? "S" : "N");
  gps.set(plat::kCGImagePropertyGPSLatitude, static_cast<float>(std::fabs(latitude)));
  double longitude = location.coordinate().longitude;
  gps.set(plat::kCGImagePropertyGPSLongitudeRef, longitude < 0 ? "W" : "E");
  gps.set(plat::kCGImagePropertyGPSLongitude, static_cast<float>(std::fabs(longitude)));
  double altitude = location.altitude();
  if (!std::isnan(altitude)) {
    gps.set(plat::kCGImagePropertyGPSAltitudeRef, altitude < 0 ? "1" : "0");
    gps.set(plat::kCGImagePropertyGPSAltitude, std::fabs(altitude));
  }
  double t = location.timestamp();
  double whole = std::floor(t);
  long micros = std::lround((t - whole) * 1e6);
  if (micros >= 1000000) {
    whole += 1;
    micros = 0;
  }
  gps.set(plat::kCGImagePropertyGPSTimeStamp,
          utcFormat(whole, "%H:%M:%S") + plat::format(".%06ld", micros));
  gps.set(plat::kCGImagePropertyGPSDateStamp, utcFormat(whole, "%Y:%m:%d"));
  return gps;
}

}  // namespace

HBRCamera::HBRCamera() {
  registerAction("takePicture", &HBRCamera::takePicture);
  registerAction("cleanup", &HBRCamera::cleanup);
  registerAction("repositionPopover", &HBRCamera::repositionPopover);
}

HBRCamera::~HBRCamera() {
  if (locationManager_) locationManager_->setDelegate(nullptr);
}

HBRCameraPickerPtr HBRCamera::pickerController() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pickerController_;
}

void HBRCamera::setPickerController(HBRCameraPickerPtr picker) {
  std::lock_guard<std::mutex> lock(mutex_);
  pickerController_ = std::move(picker);
}

void HBRCamera::send(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) {
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

std::string HBRCamera::urlTransformer(const std::string& url) const {
  auto delegate = commandDelegate();
  auto transformer = delegate ? delegate->urlTransformer() : nullptr;
  return transformer ? transformer(url) : url;
}

bool HBRCamera::usesGeolocation() const {
  auto delegate = commandDelegate();
  if (!delegate) return false;
  return harborBoolSettingForKey(delegate->settings(), plat::toLowerASCII(kCameraUsesGeolocationPreference), false);
}

bool HBRCamera::popoverSupported() {
  return plat::UIDevice::currentDevice()->userInterfaceIdiom() == plat::UIUserInterfaceIdiomPad;
}

long HBRCamera::integerValueForKey(const plat::Dictionary& dict, const std::string& key, long defaultValue) {
  const plat::Value& value = dict.get(key);
  if (value.isNil()) return defaultValue;
  if (value.isString()) return std::strtol(value.asString().c_str(), nullptr, 10);
  return static_cast<long>(value.asInt());
}

// ---------------------------------------------------------------------------------------------
// Taking a picture

void HBRCamera::takePicture(const HBRInvokedUrlCommandPtr& command) {
  setHasPendingOperation(true);
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  auto delegate = commandDelegate();
  if (!delegate) return;
  delegate->runInBackground([weak, command] {
    if (auto self = weak.lock()) self->prepare(command);
  });
}

void HBRCamera::prepare(const HBRInvokedUrlCommandPtr& command) {
  auto options = HBRPictureOptions::createFromTakePictureArguments(*command);
  options->popoverSupported = popoverSupported();
  options->usesGeolocation = usesGeolocation();
  options->cropToSize = false;
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  auto callbackId = command->callbackId();

  if (!plat::UIImagePickerController::isSourceTypeAvailable(options->sourceType)) {
    plat::NSLogf("Camera.getPicture: source type %lu not available.", static_cast<unsigned long>(options->sourceType));
    plat::dispatch::mainAsync([weak, callbackId] {
      auto self = weak.lock();
      if (!self) return;
      self->send(errorText(kNoCamera), callbackId);
      self->setHasPendingOperation(false);
    });
    return;
  }
  bool cameraRefused = false;
  if (options->sourceType == plat::UIImagePickerControllerSourceTypeCamera) {
    auto status = plat::AVCaptureDevice::authorizationStatusForMediaType(plat::AVMediaTypeVideo);
    cameraRefused = status == plat::AVAuthorizationStatusRestricted || status == plat::AVAuthorizationStatusDenied;
  }
  plat::dispatch::mainAsync([weak, options, callbackId, cameraRefused] {
    auto self = weak.lock();
    if (!self) return;
    // The request goes on beneath the alert: the picker is shown, and the alert's answer ends it.
    if (cameraRefused) self->showCameraRefusedAlert();
    auto picker = HBRCameraPicker::createFromPictureOptions(options);
    self->setPickerController(picker);
    picker->setDelegate(std::static_pointer_cast<HBRCamera>(self->shared_from_this()));
    picker->callbackId = callbackId;
    picker->webView = self->webView();
    self->present(picker);
  });
}

void HBRCamera::showCameraRefusedAlert() {
  std::optional<std::string> title;
  if (auto bundle = plat::NSBundle::mainBundle()) {
    const plat::Value& name = bundle->objectForInfoDictionaryKey("CFBundleDisplayName");
    if (name.isString()) title = name.asString();
  }
  alert_ = std::make_shared<plat::UIAlertView>();
  alert_->initWithTitle(title, std::string(kCameraProhibited),
                        std::static_pointer_cast<HBRCamera>(shared_from_this()), std::string("OK"), {"Settings"});
  alert_->show();
}

void HBRCamera::present(const HBRCameraPickerPtr& picker) {
  const auto& options = *picker->pictureOptions;
  if (options.popoverSupported && options.sourceType != plat::UIImagePickerControllerSourceTypeCamera) {
    if (!picker->pickerPopoverController) {
      picker->pickerPopoverController = std::make_shared<plat::UIPopoverController>();
      picker->pickerPopoverController->initWithContentViewController(picker);
    }
    displayPopover(options.popoverOptions);
    setHasPendingOperation(false);
    return;
  }
  auto presenter = viewController();
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  bool presented = presenter && presenter->presentViewController(picker, true, [weak] {
    if (auto self = weak.lock()) self->setHasPendingOperation(false);
  });
  if (!presented) {
    // Nothing shows the picker, so no one could ever answer it.
    plat::NSLog("Camera.getPicture: the picker could not be shown.");
    send(errorText(kNoImageSelected), picker->callbackId);
    endRequest(picker);
  }
}

void HBRCamera::displayPopover(const std::optional<plat::Dictionary>& popoverOptions) {
  plat::Dictionary options = popoverOptions.value_or(plat::Dictionary{});
  long x = integerValueForKey(options, "x", 0);
  long y = integerValueForKey(options, "y", 32);
  long width = integerValueForKey(options, "width", 320);
  long height = integerValueForKey(options, "height", 480);
  long arrowDirection = integerValueForKey(options, "arrowDir", plat::UIPopoverArrowDirectionAny);
  if (!acceptedArrowDirections().count(arrowDirection)) arrowDirection = plat::UIPopoverArrowDirectionAny;

  auto picker = pickerController();
  if (!picker || !picker->pickerPopoverController) return;
  auto popover = picker->pickerPopoverController;
  popover->setDelegate(std::static_pointer_cast<HBRCamera>(shared_from_this()));
  auto view = std::dynamic_pointer_cast<plat::UIView>(webView());
  popover->presentPopoverFromRect({{double(x), double(y)}, {double(width), double(height)}},
                                  view ? view->superview() : nullptr, static_cast<unsigned long>(arrowDirection),
                                  true);
}

void HBRCamera::repositionPopover(const HBRInvokedUrlCommandPtr& command) {
  const plat::Value& options = command->argumentAtIndex(0);
  displayPopover(options.isDictionary() ? std::optional<plat::Dictionary>(options.asDictionary()) : std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Finishing

void HBRCamera::imagePickerControllerDidFinishPickingMediaWithInfo(plat::UIImagePickerController& picker,
                                                                   const plat::UIImagePickerMediaInfo& info) {
  auto cameraPicker = std::dynamic_pointer_cast<HBRCameraPicker>(picker.shared_from_this());
  if (!cameraPicker) return;
  if (cameraPicker->pictureOptions->popoverSupported && cameraPicker->pickerPopoverController) {
    auto popover = cameraPicker->pickerPopoverController;
    popover->dismissPopoverAnimated(true);
    popover->setDelegate(nullptr);
    cameraPicker->pickerPopoverController.reset();
    finishPicking(cameraPicker, info);
    return;
  }
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  cameraPicker->dismissViewControllerAnimated(true, [weak, cameraPicker, info] {
    if (auto self = weak.lock()) self->finishPicking(cameraPicker, info);
  });
}

void HBRCamera::imagePickerControllerDidFinishPickingImageEditingInfo(plat::UIImagePickerController& picker,
                                                                      const std::shared_ptr<plat::UIImage>& image) {
  plat::UIImagePickerMediaInfo info;
  // Only pictures come this way; without the type the picture would be taken for a movie.
  info.mediaType = plat::kUTTypeImage;
  info.originalImage = image;
  imagePickerControllerDidFinishPickingMediaWithInfo(picker, info);
}

void HBRCamera::finishPicking(const HBRCameraPickerPtr& picker, const plat::UIImagePickerMediaInfo& info) {
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  if (info.mediaType == plat::kUTTypeImage) {
    answeringPicker_ = picker;
    resultForImage(*picker->pictureOptions, info, [weak, picker](const HBRPluginResultPtr& result) {
      auto self = weak.lock();
      if (!self) return;
      self->send(result, picker->callbackId);
      self->endRequest(picker);
    });
    return;
  }
  send(resultForVideo(info), picker->callbackId);
  endRequest(picker);
}

void HBRCamera::endRequest(const HBRCameraPickerPtr& picker) {
  setHasPendingOperation(false);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!picker || pickerController_ == picker) pickerController_.reset();
  }
  if (!picker || answeringPicker_ == picker) answeringPicker_.reset();
}

HBRPluginResultPtr HBRCamera::resultForVideo(const plat::UIImagePickerMediaInfo& info) const {
  return okText(info.mediaURL ? info.mediaURL->absoluteString() : std::string());
}

HBRPluginResultPtr HBRCamera::writeTempFile(const plat::Data& bytes, const HBRPictureOptions& options) const {
  std::string path = tempFilePath(options.encodingType == EncodingTypePNG ? "png" : "jpg");
  plat::NSError error;
  if (!plat::NSFileManager::defaultManager().createFileAtPath(path, bytes, &error))
    return ioError(error.localizedDescription);
  return okText(urlTransformer(plat::NSURL::fileURLWithPath(path)->absoluteString()));
}

void HBRCamera::resultForImage(const HBRPictureOptions& options, const plat::UIImagePickerMediaInfo& info,
                               ResultCompletion completion) {
  auto library = std::make_shared<plat::ALAssetsLibrary>();
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  switch (options.destinationType) {
    case DestinationTypeNativeUri: {
      if (info.referenceURL) {
        completion(okText(urlTransformer(info.referenceURL->absoluteString())));
        return;
      }
      auto image = retrieveImage(info, options);
      if (!image || !image->CGImage()) {
        completion(errorText(kEncodeFailed));
        return;
      }
      library->writeImageToSavedPhotosAlbum(
          image->CGImage(), image->imageOrientation(),
          [weak, library, completion](const plat::NSURLPtr& url, const std::optional<plat::NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            if (error || !url)
              completion(ioError(error ? error->localizedDescription : std::string(kEncodeFailed)));
            else
              completion(okText(self->urlTransformer(url->absoluteString())));
          });
      return;
    }
    case DestinationTypeDataUrl:
    case DestinationTypeFileUri: {
      auto image = retrieveImage(info, options);
      std::optional<plat::Data> bytes;
      if (image) bytes = processImage(*image, info, options);
      HBRPluginResultPtr result;
      if (!image) {
        result = errorText(kEncodeFailed);
      } else if (!bytes) {
        result = errorText(kInvalidEncoding);
      } else if (bytes->empty()) {
        result = errorText(kEncodeFailed);
      } else if (geotagPending()) {
        // The answer waits for the position; it carries the album copy too.
        if (!locationManager_) imagePickerControllerReturnImageResult();
        return;
      } else if (options.destinationType == DestinationTypeFileUri) {
        result = writeTempFile(*bytes, options);
      } else {
        result = okText(plat::base64Encode(*bytes));
      }
      if (options.saveToPhotoAlbum && image && image->CGImage()) {
        library->writeImageToSavedPhotosAlbum(image->CGImage(), image->imageOrientation(),
                                              [library](const plat::NSURLPtr&, const std::optional<plat::NSError>& e) {
                                                if (e) plat::NSLog("Camera: the album copy failed: " + e->localizedDescription);
                                              });
      }
      completion(result);
      return;
    }
    default:
      completion(errorText(kInvalidDestination));
  }
}

std::shared_ptr<plat::UIImage> HBRCamera::retrieveImage(const plat::UIImagePickerMediaInfo& info,
                                                        const HBRPictureOptions& options) const {
  std::shared_ptr<plat::UIImage> image =
      options.allowsEditing && info.editedImage ? info.editedImage : info.originalImage;
  if (!image) return nullptr;
  if (options.correctOrientation) {
    if (auto upright = imageCorrectedForCaptureOrientation(*image)) image = upright;
  }
  plat::CGSize target = options.targetSize();
  if (target.width > 0 && target.height > 0) {
    auto scaled = options.cropToSize ? imageByScalingAndCroppingForSize(*image, target)
                                     : imageByScalingNotCroppingForSize(*image, target);
    if (scaled) image = scaled;
  }
  return image;
}

std::optional<plat::Data> HBRCamera::processImage(const plat::UIImage& image,
                                                  const plat::UIImagePickerMediaInfo& info,
                                                  const HBRPictureOptions& options) {
  plat::Data data;
  if (options.encodingType == EncodingTypePNG) {
    data = plat::UIImagePNGRepresentation(image);
  } else if (options.encodingType == EncodingTypeJPEG) {
    plat::CGSize target = options.targetSize();
    bool untouched = !options.allowsEditing && target.width <= 0 && target.height <= 0 && !options.correctOrientation;
    bool fullQuality =
        untouched && (options.quality == 100 || options.sourceType != plat::UIImagePickerControllerSourceTypeCamera);
    double quality = fullQuality ? 1.0 : static_cast<double>(static_cast<float>(options.quality) / 100.0f);
    data = plat::UIImageJPEGRepresentation(image, quality);
    if (!data.empty() && options.usesGeolocation && info.mediaMetadata) {
      data_ = data;
      plat::Dictionary metadata;
      const plat::Value& exif = info.mediaMetadata->get(plat::kCGImagePropertyExifDictionary);
      if (exif.isDictionary()) metadata.set(plat::kCGImagePropertyExifDictionary, exif);
      metadata_ = std::move(metadata);
      if (locationUsable()) {
        auto manager = locationManager();
        if (plat::compareVersions(plat::UIDevice::currentDevice()->systemVersion(), "8.0") >= 0)
          manager->requestWhenInUseAuthorization();
        manager->startUpdatingLocation();
      }
    }
  } else {
    return std::nullopt;
  }
  return data;
}

std::string HBRCamera::tempFilePath(const std::string& extension) {
  return HBRNumberedTemporaryFilePath(kHBRCameraFilePrefix, extension);
}

// ---------------------------------------------------------------------------------------------
// The geotagged picture

std::shared_ptr<plat::CLLocationManager> HBRCamera::locationManager() {
  if (!locationManager_) {
    locationManager_ = std::make_shared<plat::CLLocationManager>();
    locationManager_->setDesiredAccuracy(plat::kCLLocationAccuracyNearestTenMeters);
    locationManager_->setDelegate(std::static_pointer_cast<HBRCamera>(shared_from_this()));
  }
  return locationManager_;
}

void HBRCamera::locationManagerDidUpdateToLocationFromLocation(plat::CLLocationManager& manager,
                                                              const plat::CLLocationPtr& newLocation,
                                                              const plat::CLLocationPtr& oldLocation) {
  if (!locationManager_) return;
  locationManager_->stopUpdatingLocation();
  locationManager_->setDelegate(nullptr);
  locationManager_.reset();
  if (metadata_ && newLocation) metadata_->set(plat::kCGImagePropertyGPSDictionary, gpsDictionary(*newLocation));
  imagePickerControllerReturnImageResult();
}

void HBRCamera::locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) {
  if (!locationManager_) return;
  locationManager_->stopUpdatingLocation();
  locationManager_->setDelegate(nullptr);
  locationManager_.reset();
  imagePickerControllerReturnImageResult();
}

void HBRCamera::imagePickerControllerReturnImageResult() {
  auto picker = answeringPicker_ ? answeringPicker_ : pickerController();
  if (!picker || !metadata_) {
    data_.clear();
    metadata_.reset();
    return;
  }
  const HBRPictureOptions& options = *picker->pictureOptions;
  // A fresh buffer: the merge reads the held bytes while it writes.
  plat::Data picture = data_;
  auto merged = plat::CGImageDestinationCopyJPEGWithMetadata(data_, *metadata_);
  if (merged)
    picture = std::move(*merged);
  else
    plat::NSLog("Camera: the picture is answered without its metadata: " + merged.error());

  HBRPluginResultPtr result = options.destinationType == DestinationTypeDataUrl
                                  ? okText(plat::base64Encode(picture))
                                  : writeTempFile(picture, options);
  send(result, picker->callbackId);
  if (options.saveToPhotoAlbum) {
    auto library = std::make_shared<plat::ALAssetsLibrary>();
    library->writeImageDataToSavedPhotosAlbum(picture, plat::Value(*metadata_),
                                              [library](const plat::NSURLPtr&, const std::optional<plat::NSError>& e) {
                                                if (e) plat::NSLog("Camera: the album copy failed: " + e->localizedDescription);
                                              });
  }
  endRequest(picker);
  data_.clear();
  metadata_.reset();
}

// ---------------------------------------------------------------------------------------------
// Cancel, popover, alert, titles

void HBRCamera::imagePickerControllerDidCancel(plat::UIImagePickerController& picker) {
  auto cameraPicker = std::dynamic_pointer_cast<HBRCameraPicker>(picker.shared_from_this());
  if (!cameraPicker) return;
  std::weak_ptr<HBRCamera> weak = std::static_pointer_cast<HBRCamera>(shared_from_this());
  auto answer = [weak, cameraPicker] {
    auto self = weak.lock();
    if (!self) return;
    const char* text = kNoImageSelected;
    if (cameraPicker->sourceType() == plat::UIImagePickerControllerSourceTypeCamera) {
      if (plat::AVCaptureDevice::authorizationStatusForMediaType(plat::AVMediaTypeVideo) !=
          plat::AVAuthorizationStatusAuthorized)
        text = kNoCameraAccess;
    } else if (plat::ALAssetsLibrary::authorizationStatus() != plat::ALAuthorizationStatus::Authorized) {
      text = kNoAssetsAccess;
    }
    self->send(errorText(text), cameraPicker->callbackId);
    self->endRequest(cameraPicker);
  };
  // A picker in a popover was never presented: a modal dismissal would never complete.
  if (auto popover = cameraPicker->pickerPopoverController) {
    popover->dismissPopoverAnimated(true);
    popover->setDelegate(nullptr);
    cameraPicker->pickerPopoverController.reset();
    answer();
    return;
  }
  cameraPicker->dismissViewControllerAnimated(true, answer);
}

void HBRCamera::popoverControllerDidDismissPopover(plat::UIPopoverController& popoverController) {
  popoverController.dismissPopoverAnimated(true);
  popoverController.setDelegate(nullptr);
  auto picker = pickerController();
  if (picker && picker->callbackId && picker->pickerPopoverController) {
    picker->pickerPopoverController.reset();
    send(errorText(kNoImageSelected), picker->callbackId);
  }
  setHasPendingOperation(false);
}

void HBRCamera::alertViewClickedButtonAtIndex(plat::UIAlertView& alertView, std::int64_t buttonIndex) {
  if (buttonIndex == 1)
    plat::UIApplication::sharedApplication()->openURL(plat::NSURL::URLWithString(plat::UIApplicationOpenSettingsURLString));
  auto picker = pickerController();
  if (picker) {
    picker->dismissViewControllerAnimated(true, nullptr);
    send(errorText(kNoCameraAccess), picker->callbackId);
  }
  endRequest(picker);
}

void HBRCamera::navigationControllerWillShowViewControllerAnimated(plat::UINavigationController& navigationController,
                                                                   const plat::UIViewControllerPtr& viewController,
                                                                   bool animated) {
  auto* picker = dynamic_cast<plat::UIImagePickerController*>(&navigationController);
  if (picker && viewController && !offersImages(*picker)) viewController->setTitle("Videos");
}

// ---------------------------------------------------------------------------------------------
// Cleanup

void HBRCamera::cleanup(const HBRInvokedUrlCommandPtr& command) {
  std::string folder = plat::stringByStandardizingPath(plat::NSTemporaryDirectory());
  auto& files = plat::NSFileManager::defaultManager();
  // The whole list first: removing while walking would skip or revisit entries.
  auto entries = files.subpathsOfDirectoryAtPath(folder).value_or(std::vector<std::string>{});
  bool hasErrors = false;
  std::vector<std::string> removed;
  for (const auto& entry : entries) {
    if (!plat::startsWith(entry, kHBRCameraFilePrefix)) continue;
    // What lay inside a removed folder went with it.
    bool inside = std::any_of(removed.begin(), removed.end(),
                              [&](const std::string& r) { return plat::startsWith(entry, r + "/"); });
    if (inside) continue;
    std::string path = folder + "/" + entry;
    plat::NSError error;
    if (files.removeItemAtPath(path, &error)) {
      removed.push_back(entry);
    } else {
      plat::NSLogf("Failed to delete: %s (error: %s)", path.c_str(), error.description().c_str());
      hasErrors = true;
    }
  }
  send(hasErrors ? ioError(kCleanupFailed) : HBRPluginResult::resultWithStatus(HBRCommandStatus::OK),
       command->callbackId());
}

}  // namespace harbor
