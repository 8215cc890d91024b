#include "HBRCapture.h"

#include "HBRAudioRecorderViewController.h"
#include "HBRFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "plat/assetslibrary/ALAssetsLibrary.h"
#include "plat/avfoundation/AVAudioPlayer.h"
#include "plat/avfoundation/MediaFormat.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Clock.h"
#include "plat/foundation/JSON.h"
#include "plat/avfoundation/AVAudioRecorder.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Strings.h"
#include "plat/mobilecoreservices/UTType.h"

namespace harbor {
namespace {

std::string temporaryFolder() { return plat::stringByStandardizingPath(plat::NSTemporaryDirectory()); }

plat::Dictionary mode(const char* type) { return plat::Dictionary{{"height", 0}, {"width", 0}, {"type", type}}; }

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The path with its links resolved as far as it exists, so that a link cannot lead a page out.
std::string resolvedPath(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(plat::stringByStandardizingPath(path), ec);
  return ec ? plat::stringByStandardizingPath(path) : resolved.string();
}

// Why a page may not have the facts of the file at `path`, or nothing when it may: the file
// must lie in the sandbox home or the application bundle, and be a regular file (a FIFO or a
// device would hold the main thread until someone writes to it).
std::optional<std::string> formatDataRefusal(const std::string& path) {
  if (!plat::isAbsolutePath(path)) return "it is not an absolute path";
  const std::string resolved = resolvedPath(path);
  bool inside = plat::pathIsInsideFolder(resolved, resolvedPath(plat::NSHomeDirectory()));
  if (auto bundle = plat::NSBundle::mainBundle(); !inside && bundle && !bundle->bundlePath().empty())
    inside = plat::pathIsInsideFolder(resolved, resolvedPath(bundle->bundlePath()));
  if (!inside) return "it lies outside the application's folders";
  struct stat info {};
  if (::stat(resolved.c_str(), &info) != 0) return std::nullopt;  // missing: nothing to read, nothing to tell
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  return std::nullopt;
}

}  // namespace

void HBRImagePicker::viewWillAppear(bool animated) {
  std::weak_ptr<HBRImagePicker> weak = std::static_pointer_cast<HBRImagePicker>(shared_from_this());
  plat::dispatch::mainAsync([weak] {
    if (auto self = weak.lock()) self->setNeedsStatusBarAppearanceUpdate();
  });
  plat::UIImagePickerController::viewWillAppear(animated);
}

HBRCapture::HBRCapture() {
  registerAction("captureAudio", &HBRCapture::captureAudio);
  registerAction("captureImage", &HBRCapture::captureImage);
  registerAction("captureVideo", &HBRCapture::captureVideo);
  registerAction("getMediaModes", &HBRCapture::getMediaModes);
  registerAction("getFormatData", &HBRCapture::getFormatData);
}

void HBRCapture::pluginInitialize() { inUse_ = false; }

void HBRCapture::send(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId) {
  if (auto delegate = commandDelegate()) delegate->sendPluginResult(result, callbackId);
}

HBRPluginResultPtr HBRCapture::error(HBRCommandStatus status, int code) {
  return HBRPluginResult::resultWithStatusMessageToErrorObject(status, code);
}

std::optional<double> HBRCapture::durationOption(const plat::Value& options) {
  const plat::Value& duration = options["duration"];
  double seconds = 0;
  if (duration.isNumber()) {
    seconds = duration.asDouble();
  } else if (duration.isString()) {
    // A numeric text, read as the platform reads one: leading number, the rest ignored.
    seconds = std::strtod(duration.asString().c_str(), nullptr);
  } else {
    return std::nullopt;  // null, a list, an object: no limit rather than a guess
  }
  if (!std::isfinite(seconds) || seconds == 0) return std::nullopt;
  return seconds;
}

std::optional<std::string> HBRCapture::claimNumberedFile(const std::string& folder, const std::string& prefix,
                                                         const std::string& extension) {
  for (unsigned number = 1; number < 1000000; ++number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", number);
    const std::string path = folder + "/" + prefix + digits + "." + extension;
    // Created exclusively: two captures at once cannot both take the same name. The umask decides
    // its permissions, as for every file a page has.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> HBRCapture::mimeTypeForPath(const std::string& path, bool& found) {
  auto delegate = commandDelegate();
  auto file = delegate ? std::dynamic_pointer_cast<HBRFile>(delegate->getCommandInstance("File")) : nullptr;
  found = file != nullptr;
  return file ? HBRFile::getMimeTypeFromPath(path) : std::nullopt;
}

plat::Dictionary HBRCapture::getMediaDictionaryFromPath(const std::string& fullPath,
                                                        const std::optional<std::string>& type) {
  plat::Dictionary file;
  file.set("name", plat::lastPathComponent(fullPath));
  file.set("fullPath", fullPath);
  auto delegate = commandDelegate();
  if (auto files = delegate ? std::dynamic_pointer_cast<HBRFile>(delegate->getCommandInstance("File")) : nullptr) {
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(fullPath, ec);
    if (auto url = files->fileSystemURLforLocalPath(ec ? fullPath : resolved.string()))
      file.set("localURL", url->absoluteURL());
  }
  if (type) {
    file.set("type", *type);
  } else {
    bool haveFilePlugin = false;
    auto found = mimeTypeForPath(fullPath, haveFilePlugin);
    if (haveFilePlugin) file.set("type", found ? plat::Value(*found) : plat::Value::null());
  }
  auto attributes = plat::NSFileManager::defaultManager().attributesOfItemAtPath(fullPath);
  file.set("size", attributes ? attributes->size : std::uint64_t{0});
  const double modified = attributes ? attributes->modificationDate + plat::kReferenceDateOffset : 0;
  file.set("lastModifiedDate", modified * 1000);
  return file;
}

// ---- Audio ----

void HBRCapture::captureAudio(const HBRInvokedUrlCommandPtr& command) {
  const auto duration = durationOption(command->argumentAtIndex(0, plat::Dictionary{}));
  if (!plat::AudioInput::isAvailable()) {
    plat::NSLog("Capture.captureAudio: no audio recorder on this device.");
    return send(error(HBRCommandStatus::Error, CAPTURE_NOT_SUPPORTED), command->callbackId());
  }
  if (inUse_) return send(error(HBRCommandStatus::Error, CAPTURE_APPLICATION_BUSY), command->callbackId());
  if (duration && !(*duration > 0)) {
    // A take cannot last a negative time; the recorder would refuse to start.
    plat::NSLogf("Capture.captureAudio: the duration must be a positive number of seconds, not %g", *duration);
    return send(error(HBRCommandStatus::Error, CAPTURE_INVALID_ARGUMENT), command->callbackId());
  }
  auto screen = std::make_shared<HBRAudioRecorderViewController>();
  screen->initWithCommand(std::static_pointer_cast<HBRCapture>(shared_from_this()), duration, command->callbackId());
  auto navigation = std::make_shared<HBRAudioNavigationController>(screen);
  auto controller = viewController();
  if (!controller || !controller->presentViewController(navigation, true, nullptr)) {
    // Something else is on screen (or nothing can show the screen): nobody could answer it.
    plat::NSLog("Capture.captureAudio: the recorder screen could not be shown.");
    return send(error(HBRCommandStatus::Error, controller ? CAPTURE_APPLICATION_BUSY : CAPTURE_INTERNAL_ERR),
                command->callbackId());
  }
  inUse_ = true;
  recorderScreen_ = screen;
  // The screen prepares its recorder as soon as it exists, as its view loads.
  navigation->view();
}

bool HBRCapture::presentPicker(const HBRImagePickerPtr& picker, const std::optional<std::string>& callbackId) {
  auto controller = viewController();
  if (controller && controller->presentViewController(picker, true, nullptr)) return true;
  // Something else is on screen (or nothing can show the picker): nobody could answer it.
  plat::NSLog("Capture: the camera could not be shown.");
  if (pickerController_ == picker) pickerController_ = nullptr;
  send(error(HBRCommandStatus::Error, controller ? CAPTURE_APPLICATION_BUSY : CAPTURE_INTERNAL_ERR), callbackId);
  return false;
}

bool HBRCapture::pickerOnScreen() const {
  return pickerController_ && (pickerController_->presentingViewController() || pickerController_->isBeingPresented());
}

// ---- Camera ----

void HBRCapture::captureImage(const HBRInvokedUrlCommandPtr& command) {
  if (!plat::UIImagePickerController::isSourceTypeAvailable(plat::UIImagePickerControllerSourceTypeCamera)) {
    plat::NSLog("Capture.imageCapture: camera not available.");
    return send(error(HBRCommandStatus::Error, CAPTURE_NOT_SUPPORTED), command->callbackId());
  }
  // The picker on screen answers its own request; this one cannot have the camera too.
  if (pickerOnScreen()) return send(error(HBRCommandStatus::Error, CAPTURE_APPLICATION_BUSY), command->callbackId());
  if (!pickerController_) pickerController_ = std::make_shared<HBRImagePicker>();
  pickerController_->setDelegate(std::static_pointer_cast<HBRCapture>(shared_from_this()));
  pickerController_->setSourceType(plat::UIImagePickerControllerSourceTypeCamera);
  pickerController_->setAllowsEditing(false);
  pickerController_->setMediaTypes({plat::kUTTypeImage});
  pickerController_->setCameraCaptureMode(plat::UIImagePickerControllerCameraCaptureModePhoto);
  pickerController_->callbackId = command->callbackId().value_or("");
  presentPicker(pickerController_, command->callbackId());
}

void HBRCapture::captureVideo(const HBRInvokedUrlCommandPtr& command) {
  const auto duration = durationOption(command->argumentAtIndex(0, plat::Dictionary{}));
  std::optional<std::string> chosen;
  if (pickerOnScreen()) return send(error(HBRCommandStatus::Error, CAPTURE_APPLICATION_BUSY), command->callbackId());
  if (plat::UIImagePickerController::isSourceTypeAvailable(plat::UIImagePickerControllerSourceTypeCamera)) {
    pickerController_ = std::make_shared<HBRImagePicker>();
    const auto types = plat::UIImagePickerController::availableMediaTypesForSourceType(
        plat::UIImagePickerControllerSourceTypeCamera);
    for (const char* type : {plat::kUTTypeMovie, plat::kUTTypeVideo}) {
      if (std::find(types.begin(), types.end(), type) != types.end()) {
        chosen = type;
        break;
      }
    }
  }
  if (!chosen) {
    plat::NSLog("Capture.captureVideo: video mode not available.");
    pickerController_ = nullptr;
    return send(error(HBRCommandStatus::Error, CAPTURE_NOT_SUPPORTED), command->callbackId());
  }
  pickerController_->setDelegate(std::static_pointer_cast<HBRCapture>(shared_from_this()));
  pickerController_->setSourceType(plat::UIImagePickerControllerSourceTypeCamera);
  pickerController_->setAllowsEditing(false);
  pickerController_->setMediaTypes({*chosen});
  if (duration && *chosen == plat::kUTTypeMovie) pickerController_->setVideoMaximumDuration(*duration);
  pickerController_->setCameraCaptureMode(plat::UIImagePickerControllerCameraCaptureModeVideo);
  pickerController_->callbackId = command->callbackId().value_or("");
  presentPicker(pickerController_, command->callbackId());
}

void HBRCapture::imagePickerControllerDidFinishPickingMediaWithInfo(plat::UIImagePickerController& picker,
                                                                   const plat::UIImagePickerMediaInfo& info) {
  auto* ours = dynamic_cast<HBRImagePicker*>(&picker);
  const std::string callbackId = ours ? ours->callbackId : std::string();
  const std::optional<std::string> mimeType = ours ? ours->mimeType : std::nullopt;
  picker.dismissViewControllerAnimated(true, nullptr);
  HBRPluginResultPtr result;
  if (info.mediaType.empty() || info.mediaType == plat::kUTTypeImage) {
    if (info.originalImage) result = processImage(info.originalImage, mimeType, callbackId);
  } else if (info.mediaType == plat::kUTTypeMovie && info.mediaURL && !info.mediaURL->path().empty()) {
    result = processVideo(info.mediaURL->path(), callbackId);
  }
  if (!result) result = error(HBRCommandStatus::Error, CAPTURE_INTERNAL_ERR);
  send(result, callbackId);
  pickerController_ = nullptr;
}

void HBRCapture::imagePickerControllerDidFinishPickingImageEditingInfo(plat::UIImagePickerController& picker,
                                                                      const std::shared_ptr<plat::UIImage>& image,
                                                                      const plat::UIImagePickerMediaInfo& editingInfo) {
  // The older callback: its editing info serves as the info.
  imagePickerControllerDidFinishPickingMediaWithInfo(picker, editingInfo);
}

void HBRCapture::imagePickerControllerDidCancel(plat::UIImagePickerController& picker) {
  auto* ours = dynamic_cast<HBRImagePicker*>(&picker);
  const std::string callbackId = ours ? ours->callbackId : std::string();
  picker.dismissViewControllerAnimated(true, nullptr);
  send(error(HBRCommandStatus::Error, CAPTURE_NO_MEDIA_FILES), callbackId);
  pickerController_ = nullptr;
}

HBRPluginResultPtr HBRCapture::processImage(const std::shared_ptr<plat::UIImage>& image,
                                            const std::optional<std::string>& type, const std::string& callbackId) {
  const plat::Data jpeg = plat::UIImageJPEGRepresentation(*image, 0.5);
  // The album keeps its own copy, whatever happens to the temporary file.
  std::make_shared<plat::ALAssetsLibrary>()->writeImageDataToSavedPhotosAlbum(jpeg, plat::Value(), nullptr);
  const plat::Data data = type == std::optional<std::string>("image/png") ? plat::UIImagePNGRepresentation(*image) : jpeg;
  auto path = claimNumberedFile(temporaryFolder(), "photo_", "jpg");
  plat::NSError writeError;
  if (!path || data.empty() || !plat::NSFileManager::defaultManager().createFileAtPath(*path, data, &writeError)) {
    if (path) std::remove(path->c_str());  // the claimed name, still empty
    if (!writeError.localizedDescription.empty())
      plat::NSLogf("Error saving image: %s", writeError.localizedDescription.c_str());
    return error(HBRCommandStatus::IOException, CAPTURE_INTERNAL_ERR);
  }
  return HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK,
                                                         plat::Array{getMediaDictionaryFromPath(*path, type)});
}

HBRPluginResultPtr HBRCapture::processVideo(const std::string& path, const std::string& callbackId) {
  return HBRPluginResult::resultWithStatusMessageAsArray(HBRCommandStatus::OK,
                                                         plat::Array{getMediaDictionaryFromPath(path, std::nullopt)});
}

// ---- Modes and formats ----

void HBRCapture::getMediaModes(const HBRInvokedUrlCommandPtr& command) {
  plat::Value images = plat::Value::null();
  plat::Value movies = plat::Value::null();
  if (plat::UIImagePickerController::isSourceTypeAvailable(plat::UIImagePickerControllerSourceTypeCamera)) {
    images = plat::Array{mode("image/jpeg"), mode("image/png")};
    const auto types = plat::UIImagePickerController::availableMediaTypesForSourceType(
        plat::UIImagePickerControllerSourceTypeCamera);
    if (std::find(types.begin(), types.end(), plat::kUTTypeMovie) != types.end())
      movies = plat::Array{mode("video/quicktime")};
  }
  plat::Dictionary modes{{"image", images}, {"video", movies}, {"audio", plat::Value::null()}};
  auto json = plat::json::write(modes);
  if (!json) return;
  if (auto delegate = commandDelegate()) delegate->evalJs("navigator.device.capture.setSupportedModes(" + *json + ");");
}

void HBRCapture::getFormatData(const HBRInvokedUrlCommandPtr& command) {
  const std::string path = command->argumentAtIndex(0).stringOr("");
  if (auto refusal = formatDataRefusal(path)) {
    plat::NSLogf("Capture.getFormatData: refusing '%s': %s", path.c_str(), refusal->c_str());
    return send(error(HBRCommandStatus::Error, CAPTURE_INVALID_ARGUMENT), command->callbackId());
  }
  std::optional<std::string> mimeType;
  if (command->arguments().size() >= 2 && command->argumentAtIndex(1).isString())
    mimeType = command->argumentAtIndex(1).asString();
  if (!mimeType) {
    bool haveFilePlugin = false;
    mimeType = mimeTypeForPath(path, haveFilePlugin);
    if (!haveFilePlugin) return send(error(HBRCommandStatus::Error, CAPTURE_INTERNAL_ERR), command->callbackId());
    if (!mimeType) return send(error(HBRCommandStatus::Error, CAPTURE_INVALID_ARGUMENT), command->callbackId());
  }
  plat::Dictionary format{{"codecs", plat::Value::null()}, {"bitrate", 0}, {"height", 0}, {"width", 0}, {"duration", 0}};
  if (contains(*mimeType, "image/")) {
    // The size the picture shows at, as a loaded image gives it: a JPEG turned sideways by its
    // Exif orientation has its width and height swapped.
    if (auto size = plat::readImageSize(path)) {
      format.set("width", static_cast<std::int64_t>(size->sideways() ? size->height : size->width));
      format.set("height", static_cast<std::int64_t>(size->sideways() ? size->width : size->height));
    }
  } else if (contains(*mimeType, "video/")) {
    if (auto movie = plat::readMovieInfo(path)) {
      format.set("duration", static_cast<float>(movie->duration));
      if (movie->hasVideoTrack) {
        format.set("width", static_cast<float>(movie->width));
        format.set("height", static_cast<float>(movie->height));
      } else {
        plat::NSLogf("No video tracks found for %s", path.c_str());
      }
    }
  } else if (contains(*mimeType, "audio/")) {
    plat::AVAudioPlayer player;
    if (player.initWithContentsOfURL(plat::NSURL::fileURLWithPath(path))) {
      format.set("duration", player.duration());
      const plat::Value bitRate = plat::Value(player.settings())[plat::AVEncoderBitRateKey];
      if (bitRate.isNumber()) format.set("bitrate", bitRate.asDouble());
    }
  }
  send(HBRPluginResult::resultWithStatusMessageAsDictionary(HBRCommandStatus::OK, format), command->callbackId());
}

}  // namespace harbor
