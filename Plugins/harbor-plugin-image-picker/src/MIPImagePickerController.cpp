#include "MIPImagePickerController.h"

#include "MIPAlbumPickerController.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIDevice.h"

namespace harbor {

void MIPImagePickerController::initWithRootViewController(const plat::UIViewControllerPtr& root) {
  plat::UINavigationController::initWithRootViewController(root);
  maximumImagesCount = 4;
}

void MIPImagePickerController::initImagePicker() {
  auto albums = std::make_shared<MIPAlbumPickerController>();
  initWithRootViewController(albums);
  albums->parent = std::static_pointer_cast<MIPAssetSelectionDelegate>(
      std::static_pointer_cast<MIPImagePickerController>(shared_from_this()));
}

void MIPImagePickerController::cancelImagePicker() {
  auto keep = shared_from_this();
  if (auto delegate = imagePickerDelegate.lock()) delegate->mipImagePickerControllerDidCancel(*this);
}

bool MIPImagePickerController::shouldSelectAsset(const MIPAsset&, std::uint64_t previousCount) {
  if (static_cast<std::uint64_t>(maximumImagesCount) > previousCount) return true;
  int maximum = static_cast<int>(maximumImagesCount);
  limitAlert_ = std::make_shared<plat::UIAlertView>();
  limitAlert_->initWithTitle(plat::format("Maximum %d photos.", maximum),
                             plat::format("You can only select %d photos at a time.", maximum), {},
                             std::string("Okay"), {});
  limitAlert_->show();
  return false;
}

void MIPImagePickerController::selectedAssets(const std::vector<plat::ALAssetPtr>& assets) {
  std::vector<MIPPickedInfo> info;
  for (const auto& asset : assets) {
    if (!asset || asset->type().empty()) continue;
    info.push_back({asset, asset->assetURL()});
  }
  auto keep = shared_from_this();
  if (auto delegate = imagePickerDelegate.lock()) {
    delegate->mipImagePickerControllerDidFinishPickingMediaWithInfo(*this, info);
  } else {
    popToRootViewControllerAnimated(false);
  }
}

bool MIPImagePickerController::shouldAutorotateToInterfaceOrientation(long orientation) const {
  if (orientation == plat::UIDeviceOrientationPortraitUpsideDown)
    return plat::UIDevice::currentDevice()->userInterfaceIdiom() == plat::UIUserInterfaceIdiomPad;
  return true;
}

}  // namespace harbor
