#pragma once
// Pictures for the page: taken with the camera or chosen from the photo library or the
// saved-photos album through the system's image picker, scaled and turned upright on request,
// returned as base64 text, a file in the temporary folder or the album's asset URL; movies as the
// URL of their file. On a tablet, library and album pickers show in a popover the page places.
// With the preference "CameraUsesGeolocation" a camera JPEG carries the device's position in its
// GPS metadata.
//
// Page actions (answers keep-callback off):
//   takePicture  [quality 50, destinationType 1, sourceType 1, targetWidth, targetHeight,
//                 encodingType 0, mediaType 0, allowsEditing, correctOrientation,
//                 saveToPhotoAlbum, popoverOptions, cameraDirection 0]
//                -> OK with the base64 text (0), the file URL (1) or the asset URL (2); a movie's
//                   URL. Error (9): "No camera available", "has no access to camera", "has no
//                   access to assets", "no image selected", "Invalid destination type",
//                   "Invalid encoding type", "The picture could not be encoded". IO error (6)
//                   with the platform's description when a file or album write fails.
//                   Prepared on the global queue; the picker is shown on the main thread.
//   cleanup      [] -> OK, or IO error "One or more files failed to be deleted." (main thread)
//   repositionPopover [popoverOptions {x 0, y 32, width 320, height 480, arrowDir 15}] -> nothing
//
// Files are "hbr_photo_001.jpg" (".png"), "hbr_photo_002.jpg", ... in the temporary folder, the
// first number whose file does not exist. A geotagged picture is answered once the first
// position (or a location failure) arrives, and at once without GPS data when location
// services are off or the user has refused them.
#include <memory>
#include <optional>
#include <string>

#include "HBRCameraPicker.h"
#include "HBRPictureOptions.h"
#include "HBRPlugin.h"
#include "HBRPluginResult.h"
#include "plat/corelocation/CLLocationManager.h"
#include "plat/uikit/UIAlertView.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIPopoverController.h"

namespace harbor {

inline constexpr char kHBRCameraFilePrefix[] = "hbr_photo_";
inline constexpr char kCameraUsesGeolocationPreference[] = "CameraUsesGeolocation";

class HBRCamera : public HBRPlugin,
                  public plat::UIImagePickerControllerDelegate,
                  public plat::UIPopoverControllerDelegate,
                  public plat::CLLocationManagerDelegate,
                  public plat::UIAlertViewDelegate {
 public:
  HBRCamera();
  ~HBRCamera() override;

  void takePicture(const HBRInvokedUrlCommandPtr& command);
  void cleanup(const HBRInvokedUrlCommandPtr& command);
  void repositionPopover(const HBRInvokedUrlCommandPtr& command);

  // The page's view of a URL, through the container's transformer when it has one.
  std::string urlTransformer(const std::string& url) const;
  bool usesGeolocation() const;
  static bool popoverSupported();
  void displayPopover(const std::optional<plat::Dictionary>& options);
  static long integerValueForKey(const plat::Dictionary& dict, const std::string& key, long defaultValue);
  // The image to encode: edited or original, turned upright and scaled as the options ask.
  std::shared_ptr<plat::UIImage> retrieveImage(const plat::UIImagePickerMediaInfo& info,
                                               const HBRPictureOptions& options) const;
  // The encoded bytes, or none for an unknown encoding or a failed encode. Starts the position
  // lookup for a geotagged camera JPEG (see geotagPending()).
  std::optional<plat::Data> processImage(const plat::UIImage& image, const plat::UIImagePickerMediaInfo& info,
                                         const HBRPictureOptions& options);
  // The first free "<tmp>/hbr_photo_NNN.<extension>".
  static std::string tempFilePath(const std::string& extension);
  using ResultCompletion = std::function<void(const HBRPluginResultPtr& result)>;
  void resultForImage(const HBRPictureOptions& options, const plat::UIImagePickerMediaInfo& info,
                      ResultCompletion completion);
  HBRPluginResultPtr resultForVideo(const plat::UIImagePickerMediaInfo& info) const;
  std::shared_ptr<plat::CLLocationManager> locationManager();
  // Answers the held geotagged picture: merges the metadata into a fresh JPEG, sends it, writes
  // the album copy, ends the request.
  void imagePickerControllerReturnImageResult();

  // Delegates.
  void imagePickerControllerDidFinishPickingMediaWithInfo(plat::UIImagePickerController& picker,
                                                          const plat::UIImagePickerMediaInfo& info) override;
  void imagePickerControllerDidFinishPickingImageEditingInfo(plat::UIImagePickerController& picker,
                                                             const std::shared_ptr<plat::UIImage>& image);
  void imagePickerControllerDidCancel(plat::UIImagePickerController& picker) override;
  void popoverControllerDidDismissPopover(plat::UIPopoverController& popoverController) override;
  void navigationControllerWillShowViewControllerAnimated(plat::UINavigationController& navigationController,
                                                          const plat::UIViewControllerPtr& viewController,
                                                          bool animated) override;
  void alertViewClickedButtonAtIndex(plat::UIAlertView& alertView, std::int64_t buttonIndex) override;
  void locationManagerDidUpdateToLocationFromLocation(plat::CLLocationManager& manager,
                                                     const plat::CLLocationPtr& newLocation,
                                                     const plat::CLLocationPtr& oldLocation) override;
  void locationManagerDidFailWithError(plat::CLLocationManager& manager, const plat::NSError& error) override;

  HBRCameraPickerPtr pickerController() const;
  bool geotagPending() const { return metadata_.has_value(); }
  const std::optional<plat::Dictionary>& metadata() const { return metadata_; }

 private:
  void setPickerController(HBRCameraPickerPtr picker);
  void prepare(const HBRInvokedUrlCommandPtr& command);
  void present(const HBRCameraPickerPtr& picker);
  void showCameraRefusedAlert();
  void finishPicking(const HBRCameraPickerPtr& picker, const plat::UIImagePickerMediaInfo& info);
  // Ends the request of this picker: the flag cleared, the picker let go when it is still the
  // current one (a newer request keeps its own).
  void endRequest(const HBRCameraPickerPtr& picker);
  void send(const HBRPluginResultPtr& result, const std::optional<std::string>& callbackId);
  // Status 1 with the file URL of the written bytes, or 6 with the write error.
  HBRPluginResultPtr writeTempFile(const plat::Data& bytes, const HBRPictureOptions& options) const;

  mutable std::mutex mutex_;
  HBRCameraPickerPtr pickerController_;
  // The picker whose picture is being answered; the geotagged answer comes later and must reach
  // its own callback even if another request has started meanwhile.
  HBRCameraPickerPtr answeringPicker_;
  std::shared_ptr<plat::CLLocationManager> locationManager_;
  std::optional<plat::Dictionary> metadata_;
  plat::Data data_;
  std::shared_ptr<plat::UIAlertView> alert_;
};

}  // namespace harbor
