#pragma once
// The picker's navigation controller: holds the selection limit, shows the "Maximum" alert when
// it is reached, and hands the chosen photos (or the cancel) to its delegate, the plugin.
#include <memory>
#include <vector>

#include "MIPDelegates.h"
#include "plat/uikit/UIAlertView.h"
#include "plat/uikit/UINavigationController.h"

namespace harbor {

class MIPImagePickerController : public plat::UINavigationController, public MIPAssetSelectionDelegate {
 public:
  // The limit starts at 4.
  void initWithRootViewController(const plat::UIViewControllerPtr& root);
  // Makes its own album screen as root (plain style) and becomes its parent.
  void initImagePicker();

  void cancelImagePicker();
  // Allowed while the limit, compared unsigned, is above the count (so a negative limit never
  // stops anyone); otherwise the "Maximum %d photos." alert and a refusal.
  bool shouldSelectAsset(const MIPAsset& asset, std::uint64_t previousCount) override;
  void selectedAssets(const std::vector<plat::ALAssetPtr>& assets) override;
  // Every way up but upside down, which only tablets allow.
  bool shouldAutorotateToInterfaceOrientation(long orientation) const;

  std::weak_ptr<MIPImagePickerControllerDelegate> imagePickerDelegate;
  long maximumImagesCount = 4;
  bool returnsOriginalImage = false;

 private:
  std::shared_ptr<plat::UIAlertView> limitAlert_;
};
using MIPImagePickerControllerPtr = std::shared_ptr<MIPImagePickerController>;

}  // namespace harbor
