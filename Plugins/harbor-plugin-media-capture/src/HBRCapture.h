#pragma once
// The media capture plugin (service "Capture"): a photo or a video from the camera, the modes
// the device supports, and the format facts of a media file.
//
// Page actions (arguments by position; main thread; a missing or null options argument counts
// as {}). Failures are {"code": n}: 0 internal (status 9, or 6 when the photo cannot be
// written), 1 busy, 2 invalid argument, 3 no media (cancelled), 20 not supported.
//   captureImage [options]          [media file]; the photo is also saved to the album and
//                                   written as "<tmp>/photo_NNN.jpg", the first free number
//   captureVideo [{"duration": s}]  [media file] of the movie the camera filmed
//                                   Both: 1 while a camera screen is up or another screen
//                                   keeps the camera from showing; the open one answers its own.
//   captureAudio [{"duration": s}]  the audio recorder screen answers (see
//                                   HBRAudioRecorderViewController.h); 20 without a microphone,
//                                   1 while it (or another screen) is up, 2 for a negative
//                                   duration (0 records without a limit)
//   getMediaModes []                no answer; "navigator.device.capture.setSupportedModes(%s);"
//   getFormatData [path, type?]     {"codecs": null, "bitrate", "height", "width", "duration"};
//                                   2 for a path outside the sandbox home and the bundle, or
//                                   one that is not a regular file (nothing is opened then)
// A media file is {"name", "fullPath", "localURL" (the File plugin's URL, when a file system of
// it holds the path), "type", "size", "lastModifiedDate" (ms since 1970)}.
#include <memory>
#include <optional>
#include <string>

#include "HBRPlugin.h"
#include "HBRPluginResult.h"
#include "plat/uikit/UIAccessibility.h"
#include "plat/uikit/UIImagePickerController.h"

namespace harbor {

enum HBRCaptureError {
  CAPTURE_INTERNAL_ERR = 0,
  CAPTURE_APPLICATION_BUSY = 1,
  CAPTURE_INVALID_ARGUMENT = 2,
  CAPTURE_NO_MEDIA_FILES = 3,
  CAPTURE_NOT_SUPPORTED = 20,
};

class HBRAudioRecorderViewController;

// The camera screen of a capture: the status bar hides while it shows.
class HBRImagePicker : public plat::UIImagePickerController {
 public:
  long quality = 0;
  std::string callbackId;
  std::optional<std::string> mimeType;
  bool prefersStatusBarHidden() const override { return true; }
  // Asks for the status bar's look to be applied again, on the next turn, before appearing.
  void viewWillAppear(bool animated) override;
  // A control that starts a media session, for the screen reader.
  plat::UIAccessibilityTraits accessibilityTraits() const { return plat::UIAccessibilityTraitStartsMediaSession; }
};
using HBRImagePickerPtr = std::shared_ptr<HBRImagePicker>;

class HBRCapture : public HBRPlugin, public plat::UIImagePickerControllerDelegate {
 public:
  HBRCapture();

  void pluginInitialize() override;

  void captureAudio(const HBRInvokedUrlCommandPtr& command);
  void captureImage(const HBRInvokedUrlCommandPtr& command);
  void captureVideo(const HBRInvokedUrlCommandPtr& command);
  void getMediaModes(const HBRInvokedUrlCommandPtr& command);
  void getFormatData(const HBRInvokedUrlCommandPtr& command);

  HBRPluginResultPtr processImage(const std::shared_ptr<plat::UIImage>& image, const std::optional<std::string>& type,
                                  const std::string& callbackId);
  HBRPluginResultPtr processVideo(const std::string& path, const std::string& callbackId);
  plat::Dictionary getMediaDictionaryFromPath(const std::string& fullPath, const std::optional<std::string>& type);

  void imagePickerControllerDidFinishPickingMediaWithInfo(plat::UIImagePickerController& picker,
                                                          const plat::UIImagePickerMediaInfo& info) override;
  void imagePickerControllerDidCancel(plat::UIImagePickerController& picker) override;
  // The older form of the finish: the editing info is handed on as the info.
  void imagePickerControllerDidFinishPickingImageEditingInfo(plat::UIImagePickerController& picker,
                                                             const std::shared_ptr<plat::UIImage>& image,
                                                             const plat::UIImagePickerMediaInfo& editingInfo);

  bool inUse() const { return inUse_; }
  void setInUse(bool inUse) { inUse_ = inUse; }
  HBRImagePickerPtr pickerController() const { return pickerController_; }
  // The recorder screen last shown (tests and the runner press its buttons).
  std::shared_ptr<HBRAudioRecorderViewController> recorderScreen() const { return recorderScreen_.lock(); }

  // The first "<folder>/<prefix>NNN.<extension>" from 001 on that does not exist, created empty
  // at once so that no other capture can take it; nothing when none can be created.
  static std::optional<std::string> claimNumberedFile(const std::string& folder, const std::string& prefix,
                                                      const std::string& extension);
  // The "duration" option in seconds: a number or a numeric text; nothing for 0 or anything else.
  static std::optional<double> durationOption(const plat::Value& options);

 private:
  void send(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId);
  // Presents the picker; when it cannot be shown the request is answered (busy, or internal
  // error without a view controller) and false returned.
  bool presentPicker(const HBRImagePickerPtr& picker, const std::optional<std::string>& callbackId);
  bool pickerOnScreen() const;
  static HBRPluginResultPtr error(HBRCommandStatus status, int code);
  // The File plugin's MIME type for the path, or nothing; `found` tells whether the File
  // plugin is there at all.
  std::optional<std::string> mimeTypeForPath(const std::string& path, bool& found);

  HBRImagePickerPtr pickerController_;
  bool inUse_ = false;
  std::weak_ptr<HBRAudioRecorderViewController> recorderScreen_;
};

}  // namespace harbor
