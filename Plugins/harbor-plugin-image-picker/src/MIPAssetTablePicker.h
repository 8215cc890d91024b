#pragma once
// The grid of one album: its photos as thumbnails, `columns` to a row (the screen's width / 80),
// filled on a background thread after the screen is shown ("Loading..." until then). Done hands
// the chosen photos, in the album's order, up to the album screen; with immediateReturn the
// first chosen photo goes up at once. On screen with its photos read, it is a screen of the UI
// driver (rows: the photos in the album's order; button: Done; the picker's limit).
#include <memory>
#include <vector>

#include "MIPAsset.h"
#include "MIPAssetCell.h"
#include "MIPDelegates.h"
#include "plat/uikit/UIDriver.h"
#include "plat/uikit/UITableViewController.h"

namespace harbor {

class MIPAssetTablePicker : public plat::UITableViewController, public MIPAssetDelegate, public plat::UIDrivenScreen {
 public:
  MIPAssetTablePicker();
  // The album screen's way of making it: columns stay 0 until the view is about to appear.
  void initWithNibNameBundle();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // plat::UIDrivenScreen. Choosing a row taps its thumbnail (a chosen one is let go).
  std::string screenTitle() const override { return title().value_or(""); }
  std::vector<std::string> buttonTitles() const override;
  bool tapButton(const std::string& title) override;
  std::vector<Row> rows() const override;
  bool selectRow(std::int64_t id) override;
  std::optional<long> selectionLimit() const override;
  // After the interface turned: columns follow the new width and the table reloads.
  void didRotateFromInterfaceOrientation();

  // Reads the album on a background thread; the list is handed to the main thread whole.
  void preparePhotos();
  void doneAction();
  std::vector<MIPAssetPtr> assetsForIndexPath(plat::NSIndexPath path) const;
  std::size_t totalSelectedAssets() const;

  long numberOfRowsInSection(long section) override;
  plat::UITableViewCellPtr cellForRowAtIndexPath(plat::NSIndexPath path) override;
  double heightForRowAtIndexPath(plat::NSIndexPath path) override { return 79; }

  void assetSelected(MIPAsset& asset) override;
  bool shouldSelectAsset(const MIPAsset& asset) override;

  std::weak_ptr<MIPAssetSelectionDelegate> parent;
  plat::ALAssetsGroupPtr assetGroup;
  std::vector<MIPAssetPtr> mipAssets;
  bool singleSelection = false;
  bool immediateReturn = false;
  std::weak_ptr<MIPAssetPickerFilterDelegate> assetPickerFilterDelegate;
  std::int32_t columns = 0;

 private:
  bool onScreen_ = false;
  bool photosRead_ = false;

 private:
  void offerToTheDriver();
  void updateColumns();
  void photosPrepared(std::vector<MIPAssetPtr> assets);
};
using MIPAssetTablePickerPtr = std::shared_ptr<MIPAssetTablePicker>;

}  // namespace harbor
