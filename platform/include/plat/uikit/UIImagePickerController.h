#pragma once
// The system's image picker: takes a picture (or a movie) with the camera, or lets the user
// choose one from the photo library or the saved-photos album. There is neither a camera nor a
// person here, so the device is simulated: SimulatedCamera says whether a camera exists and
// whether the application may use it, and the user's choice comes through the UI driver
// (UIDriver::pickImage, pickAsset, pickMovie, cancelPicker) while the picker is on screen
// (presented, or shown in a popover). The driver can also press the camera's own buttons:
// takePicture (a test card of the simulated camera's picture size) and recordVideo(seconds),
// which films an MP4 file of that length (cut to videoMaximumDuration when that is above 0) into
// the temporary folder.
//
// What the delegate receives, for a picture: the media type kUTTypeImage, the original image,
// the edited one (the middle square) when editing is allowed, the library's reference URL for a
// library pick, and for a camera picture the capture metadata ("{Exif}" and "{TIFF}"
// dictionaries, see imageio/ImageMetadata.h). For a movie: kUTTypeMovie and the file's URL.
//
// Threads: main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/avfoundation/AVCaptureDevice.h"
#include "plat/foundation/NSURL.h"
#include "plat/foundation/Value.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UINavigationController.h"

namespace plat {

enum UIImagePickerControllerSourceType : long {
  UIImagePickerControllerSourceTypePhotoLibrary = 0,
  UIImagePickerControllerSourceTypeCamera = 1,
  UIImagePickerControllerSourceTypeSavedPhotosAlbum = 2,
};

enum UIImagePickerControllerCameraCaptureMode : long {
  UIImagePickerControllerCameraCaptureModePhoto = 0,
  UIImagePickerControllerCameraCaptureModeVideo = 1,
};

inline constexpr char kUTTypeVideo[] = "public.video";

enum UIImagePickerControllerCameraDevice : long {
  UIImagePickerControllerCameraDeviceRear = 0,
  UIImagePickerControllerCameraDeviceFront = 1,
};

// The info of one pick.
struct UIImagePickerMediaInfo {
  std::string mediaType;                      // UIImagePickerControllerMediaType
  std::shared_ptr<UIImage> originalImage;     // UIImagePickerControllerOriginalImage
  std::shared_ptr<UIImage> editedImage;       // UIImagePickerControllerEditedImage
  NSURLPtr referenceURL;                      // UIImagePickerControllerReferenceURL
  NSURLPtr mediaURL;                          // UIImagePickerControllerMediaURL
  std::optional<Dictionary> mediaMetadata;    // UIImagePickerControllerMediaMetadata
};

class UIImagePickerController;

class UIImagePickerControllerDelegate : public UINavigationControllerDelegate {
 public:
  virtual void imagePickerControllerDidFinishPickingMediaWithInfo(UIImagePickerController& picker,
                                                                  const UIImagePickerMediaInfo& info) {}
  virtual void imagePickerControllerDidCancel(UIImagePickerController& picker) {}
};

class UIImagePickerController : public UINavigationController, public UIDrivenPicker {
 public:
  // The camera exists only when SimulatedCamera says so; the library and album always do.
  static bool isSourceTypeAvailable(long sourceType);
  // What a source offers: pictures and movies (the camera films only when SimulatedCamera says
  // so), nothing for a source that is not there.
  static std::vector<std::string> availableMediaTypesForSourceType(long sourceType);

  long sourceType() const { return sourceType_; }
  void setSourceType(long type) { sourceType_ = type; }
  // Starts as [kUTTypeImage].
  const std::vector<std::string>& mediaTypes() const { return mediaTypes_; }
  void setMediaTypes(std::vector<std::string> types) { mediaTypes_ = std::move(types); }
  bool allowsEditing() const { return allowsEditing_; }
  void setAllowsEditing(bool allows) { allowsEditing_ = allows; }
  long cameraDevice() const { return cameraDevice_; }
  void setCameraDevice(long device) { cameraDevice_ = device; }
  // Photo at first; in video mode the camera films and takes no pictures.
  long cameraCaptureMode() const { return cameraCaptureMode_; }
  void setCameraCaptureMode(long mode) { cameraCaptureMode_ = mode; }
  // Seconds a movie may last; 600 at first, 0 or less for no limit.
  double videoMaximumDuration() const { return videoMaximumDuration_; }
  void setVideoMaximumDuration(double seconds) { videoMaximumDuration_ = seconds; }

  std::shared_ptr<UIImagePickerControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UIImagePickerControllerDelegate>& d);

  // Shows its first screen (the album list, titled "Photos" or "Saved Photos"; the camera has
  // none) and puts itself under the driver's hand.
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // UIDrivenPicker
  long pickerSourceType() const override { return sourceType_; }
  std::vector<std::string> pickerMediaTypes() const override { return mediaTypes_; }
  bool pickImage(const std::shared_ptr<UIImage>& image) override;
  bool pickAsset(const NSURLPtr& assetURL) override;
  bool pickMovie(const std::string& path) override;
  bool cancelPicking() override;
  // The camera's shutter: a picture of SimulatedCamera's picture size (photo mode only).
  bool takePicture() override;
  // The camera's record button held for `seconds`: an MP4 file in the temporary folder. False
  // in photo mode when movies are not offered, for a library picker, or for no time at all.
  bool recordVideo(double seconds) override;

 private:
  bool offers(const std::string& mediaType) const;
  void finish(const UIImagePickerMediaInfo& info);
  std::shared_ptr<UIImage> editedFrom(const UIImage& image) const;

  long sourceType_ = UIImagePickerControllerSourceTypePhotoLibrary;
  std::vector<std::string> mediaTypes_;
  bool allowsEditing_ = false;
  long cameraDevice_ = UIImagePickerControllerCameraDeviceRear;
  long cameraCaptureMode_ = UIImagePickerControllerCameraCaptureModePhoto;
  double videoMaximumDuration_ = 600;
  std::weak_ptr<UIImagePickerControllerDelegate> delegate_;
  bool onScreen_ = false;
};

// The simulated camera. It starts present, authorized, filming, with 640 x 480 pictures. Any
// thread.
class SimulatedCamera {
 public:
  static bool isAvailable();
  // Whether there is a camera, and whether it films too.
  static void setAvailable(bool available, bool video = true);
  static bool hasVideo();
  // Pictures the camera takes by itself (UIDriver::takePicture) are this size.
  static void setPictureSize(std::size_t width, std::size_t height);
  static std::size_t pictureWidth();
  static std::size_t pictureHeight();
  static AVAuthorizationStatus authorizationStatus();
  static void setAuthorizationStatus(AVAuthorizationStatus status);
  // The capture metadata the camera gives a picture of this stored size: the capture date (now,
  // local time), the pixel dimensions, the camera's make and model, and the orientation it was
  // held in (its Exif value).
  static Dictionary captureMetadata(std::size_t width, std::size_t height,
                                    UIImageOrientation orientation = UIImageOrientationUp);
  // Tests: present, authorized, filming and 640 x 480 again.
  static void reset();
};

// A test card: a picture of the size with coloured quarters and a gradient, for the runner and
// tests that need a photo.
std::shared_ptr<UIImage> SimulatedTestPicture(std::size_t width, std::size_t height);

}  // namespace plat
