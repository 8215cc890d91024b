#pragma once
// The image picker of one picture request: it carries the request's options and the page
// callback to the delegate's answers, and hides the status bar while it shows.
#include <memory>
#include <optional>
#include <string>

#include "HBRPictureOptions.h"
#include "plat/uikit/UIImagePickerController.h"
#include "plat/uikit/UIPopoverController.h"

namespace harbor {

class HBRCameraPicker : public plat::UIImagePickerController {
 public:
  // Source type and editing from the options; the camera takes pictures only, with the camera
  // device the options name; the library and album offer pictures (0), movies (1) or everything
  // the source has (2).
  static std::shared_ptr<HBRCameraPicker> createFromPictureOptions(const HBRPictureOptionsPtr& options);

  HBRPictureOptionsPtr pictureOptions;
  std::optional<std::string> callbackId;
  std::optional<std::string> postUrl;
  plat::UIPopoverControllerPtr pickerPopoverController;
  bool cropToSize = false;
  std::weak_ptr<plat::Object> webView;

  bool prefersStatusBarHidden() const override { return true; }
  void viewWillAppear(bool animated) override;
};
using HBRCameraPickerPtr = std::shared_ptr<HBRCameraPicker>;

}  // namespace harbor
