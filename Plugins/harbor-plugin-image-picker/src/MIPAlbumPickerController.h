#pragma once
// The first screen: the library's albums, the camera roll first, each with its photo count and
// poster. Choosing one pushes its grid. Selection questions and the chosen photos pass through
// to the picker.
#include <memory>
#include <vector>

#include "MIPDelegates.h"
#include "plat/uikit/UIAlertView.h"
#include "plat/uikit/UITableViewController.h"

namespace harbor {

class MIPAlbumPickerController : public plat::UITableViewController,
                                 public MIPAssetSelectionDelegate,
                                 public plat::UIAlertViewDelegate {
 public:
  void viewDidLoad() override;
  void reloadTableView();

  long numberOfRowsInSection(long section) override { return static_cast<long>(assetGroups.size()); }
  plat::UITableViewCellPtr cellForRowAtIndexPath(plat::NSIndexPath path) override;
  double heightForRowAtIndexPath(plat::NSIndexPath path) override { return 57; }
  void didSelectRowAtIndexPath(plat::NSIndexPath path) override;

  void selectedAssets(const std::vector<plat::ALAssetPtr>& assets) override;
  bool shouldSelectAsset(const MIPAsset& asset, std::uint64_t previousCount) override;

  std::weak_ptr<MIPAssetSelectionDelegate> parent;
  std::vector<plat::ALAssetsGroupPtr> assetGroups;
  bool singleSelection = false;
  bool immediateReturn = false;
  std::weak_ptr<MIPAssetPickerFilterDelegate> assetPickerFilterDelegate;
  plat::ALAssetsLibraryPtr library;

 private:
  std::shared_ptr<plat::UIAlertView> errorAlert_;
};
using MIPAlbumPickerControllerPtr = std::shared_ptr<MIPAlbumPickerController>;

}  // namespace harbor
