#include "MIPAlbumPickerController.h"

#include "MIPAssetTablePicker.h"
#include "MIPImagePickerController.h"
#include "plat/dispatch/Queues.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UINavigationController.h"

namespace harbor {

void MIPAlbumPickerController::viewDidLoad() {
  setTitle("Loading...");
  std::weak_ptr<MIPAlbumPickerController> weak = std::static_pointer_cast<MIPAlbumPickerController>(shared_from_this());
  setRightBarButtonItem(std::make_shared<plat::UIBarButtonItem>(plat::UIBarButtonItem::Cancel, [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (auto picker = std::dynamic_pointer_cast<MIPImagePickerController>(self->parent.lock())) picker->cancelImagePicker();
  }));
  assetGroups.clear();
  library = std::make_shared<plat::ALAssetsLibrary>();
  plat::dispatch::mainAsync([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->library->enumerateGroupsWithTypes(
        plat::ALAssetsGroupAll,
        [weak](const plat::ALAssetsGroupPtr& group, bool&) {
          auto self = weak.lock();
          if (!self) return;
          if (!group) {  // the end of the list
            self->listRead_ = true;
            return self->offerToTheDriver();
          }
          if (group->type() == plat::ALAssetsGroupSavedPhotos && plat::toLowerASCII(group->name()) == "camera roll")
            self->assetGroups.insert(self->assetGroups.begin(), group);
          else
            self->assetGroups.push_back(group);
          self->reloadTableView();
        },
        [weak](const plat::NSError& error) {
          auto self = weak.lock();
          if (!self) return;
          self->errorAlert_ = std::make_shared<plat::UIAlertView>();
          self->errorAlert_->initWithTitle(std::string("Error"),
                                           plat::format("Album Error: %s - %s", error.localizedDescription.c_str(),
                                                        error.userInfo["NSLocalizedRecoverySuggestion"].stringOr().c_str()),
                                           {}, std::string("Ok"), {});
          self->errorAlert_->show();
          self->listRead_ = true;  // empty: the user can still cancel
          self->offerToTheDriver();
          plat::NSLogf("A problem occured %s", error.description().c_str());
        });
  });
}

void MIPAlbumPickerController::viewDidAppear(bool animated) {
  onScreen_ = true;
  offerToTheDriver();
}

void MIPAlbumPickerController::viewDidDisappear(bool animated) {
  onScreen_ = false;
  plat::UIDriver::shared().screenDidDisappear(this);
}

void MIPAlbumPickerController::offerToTheDriver() {
  if (onScreen_ && listRead_)
    plat::UIDriver::shared().screenDidAppear(
        std::dynamic_pointer_cast<plat::UIDrivenScreen>(std::static_pointer_cast<MIPAlbumPickerController>(shared_from_this())));
}

bool MIPAlbumPickerController::tapButton(const std::string& title) {
  if (title != "Cancel") return false;
  auto picker = std::dynamic_pointer_cast<MIPImagePickerController>(parent.lock());
  if (!picker) return false;
  picker->cancelImagePicker();
  return true;
}

std::vector<plat::UIDrivenScreen::Row> MIPAlbumPickerController::rows() const {
  std::vector<Row> out;
  for (std::size_t i = 0; i < assetGroups.size(); ++i)
    out.push_back({static_cast<std::int64_t>(i),
                   plat::format("%s (%ld)", assetGroups[i]->name().c_str(), assetGroups[i]->numberOfAssets())});
  return out;
}

bool MIPAlbumPickerController::selectRow(std::int64_t id) {
  if (id < 0 || static_cast<std::size_t>(id) >= assetGroups.size()) return false;
  didSelectRowAtIndexPath({0, static_cast<long>(id)});
  return true;
}

void MIPAlbumPickerController::reloadTableView() {
  tableView()->reloadData();
  setTitle("Select an Album");
}

plat::UITableViewCellPtr MIPAlbumPickerController::cellForRowAtIndexPath(plat::NSIndexPath path) {
  if (path.row < 0 || static_cast<std::size_t>(path.row) >= assetGroups.size()) return nullptr;
  const auto& group = assetGroups[static_cast<std::size_t>(path.row)];
  auto cell = std::make_shared<plat::UITableViewCell>();
  cell->initWithReuseIdentifier("Cell");
  group->setAssetsFilter(plat::ALAssetsGroup::AllPhotos);
  cell->setText(plat::format("%s (%ld)", group->name().c_str(), group->numberOfAssets()));
  cell->setImage(group->posterImage());
  cell->setAccessoryType(plat::UITableViewCellAccessoryDisclosureIndicator);
  return cell;
}

void MIPAlbumPickerController::didSelectRowAtIndexPath(plat::NSIndexPath path) {
  if (path.row < 0 || static_cast<std::size_t>(path.row) >= assetGroups.size()) return;
  auto grid = std::make_shared<MIPAssetTablePicker>();
  grid->initWithNibNameBundle();
  grid->parent = std::static_pointer_cast<MIPAssetSelectionDelegate>(
      std::static_pointer_cast<MIPAlbumPickerController>(shared_from_this()));
  grid->assetGroup = assetGroups[static_cast<std::size_t>(path.row)];
  grid->assetGroup->setAssetsFilter(plat::ALAssetsGroup::AllPhotos);
  grid->assetPickerFilterDelegate = assetPickerFilterDelegate;
  grid->immediateReturn = immediateReturn;
  grid->singleSelection = singleSelection;
  if (auto navigation = std::dynamic_pointer_cast<plat::UINavigationController>(navigationController()))
    navigation->pushViewController(grid, true);
}

void MIPAlbumPickerController::selectedAssets(const std::vector<plat::ALAssetPtr>& assets) {
  if (auto owner = parent.lock()) owner->selectedAssets(assets);
}

bool MIPAlbumPickerController::shouldSelectAsset(const MIPAsset& asset, std::uint64_t previousCount) {
  auto owner = parent.lock();
  return !owner || owner->shouldSelectAsset(asset, previousCount);
}

}  // namespace harbor
