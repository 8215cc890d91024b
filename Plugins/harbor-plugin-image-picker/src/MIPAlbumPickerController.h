#pragma once
// The first screen: the library's albums, the camera roll first, each with its photo count and
// poster. Choosing one pushes its grid. Selection questions and the chosen photos pass through
// to the picker. On screen with its list read, it is a screen of the UI driver (rows: the
// albums; button: Cancel).
#include <memory>
#include <vector>

#include "MIPDelegates.h"
#include "plat/uikit/UIAlertView.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UITableViewController.h"

namespace harbor {

class MIPAlbumPickerController : public plat::UITableViewController,
                                 public MIPAssetSelectionDelegate,
                                 public plat::UIAlertViewDelegate,
                                 public plat::UIDrivenScreen {
 public:
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // plat::UIDrivenScreen
  std::string screenTitle() const override { return title().value_or(""); }
  std::vector<std::string> buttonTitles() const override { return {"Cancel"}; }
  bool tapButton(const std::string& title) override;
  std::vector<Row> rows() const override;
  bool selectRow(std::int64_t id) override;
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
  // Offered to the driver once both on screen and read.
  void offerToTheDriver();

  std::shared_ptr<plat::UIAlertView> errorAlert_;
  bool onScreen_ = false;
  bool listRead_ = false;
};
using MIPAlbumPickerControllerPtr = std::shared_ptr<MIPAlbumPickerController>;

}  // namespace harbor
