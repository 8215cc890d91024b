#include "HBRCameraPicker.h"

#include "plat/dispatch/Queues.h"
#include "plat/mobilecoreservices/UTType.h"

namespace harbor {

std::shared_ptr<HBRCameraPicker> HBRCameraPicker::createFromPictureOptions(const HBRPictureOptionsPtr& options) {
  auto picker = std::make_shared<HBRCameraPicker>();
  picker->pictureOptions = options;
  picker->setSourceType(options->sourceType);
  picker->setAllowsEditing(options->allowsEditing);
  if (options->sourceType == plat::UIImagePickerControllerSourceTypeCamera) {
    picker->setMediaTypes({plat::kUTTypeImage});
    picker->setCameraDevice(options->cameraDirection);
  } else if (options->mediaType == MediaTypeAll) {
    picker->setMediaTypes(availableMediaTypesForSourceType(options->sourceType));
  } else if (options->mediaType == MediaTypeVideo) {
    picker->setMediaTypes({plat::kUTTypeMovie});
  } else {
    picker->setMediaTypes({plat::kUTTypeImage});
  }
  return picker;
}

void HBRCameraPicker::viewWillAppear(bool animated) {
  std::weak_ptr<HBRCameraPicker> weak = std::static_pointer_cast<HBRCameraPicker>(shared_from_this());
  plat::dispatch::mainAsync([weak] {
    // Closed before this turn came: the controller beneath has the bar back already.
    auto self = weak.lock();
    if (self && self->presentingViewController() && !self->isBeingDismissed()) self->setNeedsStatusBarAppearanceUpdate();
  });
  plat::UIImagePickerController::viewWillAppear(animated);
}

}  // namespace harbor
