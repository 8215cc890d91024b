#pragma once
// The camera screen. Whether there is a camera, and whether it films, is the simulated
// camera's to say (SimulatedCamera). A picker on screen is listed with the UI driver, which
// stands in for the user: it takes a picture (a still of the simulated camera's size), films a
// movie of some seconds (an MP4 file in the temporary folder), or cancels. The picker's delegate
// hears the result.
//
// Threads: main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/foundation/NSURL.h"
#include "plat/mobilecoreservices/UTType.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIViewController.h"

namespace plat {

enum class UIImagePickerControllerSourceType { PhotoLibrary = 0, Camera = 1, SavedPhotosAlbum = 2 };
enum class UIImagePickerControllerCameraCaptureMode { Photo = 0, Video = 1 };

inline constexpr char kUTTypeVideo[] = "public.video";

// What a finished picker hands its delegate.
struct UIImagePickerInfo {
  std::optional<std::string> mediaType;  // kUTTypeImage or kUTTypeMovie
  std::shared_ptr<UIImage> originalImage;
  NSURLPtr mediaURL;                     // the movie file
};

class UIImagePickerController;

class UIImagePickerControllerDelegate {
 public:
  virtual ~UIImagePickerControllerDelegate() = default;
  virtual void imagePickerControllerDidFinishPickingMediaWithInfo(UIImagePickerController& picker,
                                                                 const UIImagePickerInfo& info) = 0;
  virtual void imagePickerControllerDidCancel(UIImagePickerController& picker) = 0;
};

// The device's camera, process-wide. None at first.
class SimulatedCamera {
 public:
  static void setAvailable(bool camera, bool video = true);
  static bool hasCamera();
  static bool hasVideo();
  // Pictures are this size (default 640 x 480).
  static void setPictureSize(unsigned width, unsigned height);
  static unsigned pictureWidth();
  static unsigned pictureHeight();
  static void reset();
};

class UIImagePickerController : public UIViewController {
 public:
  static bool isSourceTypeAvailable(UIImagePickerControllerSourceType source);
  // Nothing for a source that is not there.
  static std::optional<std::vector<std::string>> availableMediaTypesForSourceType(UIImagePickerControllerSourceType source);

  UIImagePickerControllerSourceType sourceType = UIImagePickerControllerSourceType::PhotoLibrary;
  std::vector<std::string> mediaTypes{kUTTypeImage};
  bool allowsEditing = false;
  double videoMaximumDuration = 600;
  UIImagePickerControllerCameraCaptureMode cameraCaptureMode = UIImagePickerControllerCameraCaptureMode::Photo;
  std::weak_ptr<UIImagePickerControllerDelegate> delegate;

  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // The user's acts (the driver calls them). False when the picker cannot do it now: no
  // delegate, or not filming / photographing in its current mode.
  bool takePicture();
  // Films `seconds` (cut to videoMaximumDuration when that is above 0).
  bool recordVideo(double seconds);
  bool cancel();
};

using UIImagePickerControllerPtr = std::shared_ptr<UIImagePickerController>;

}  // namespace plat
