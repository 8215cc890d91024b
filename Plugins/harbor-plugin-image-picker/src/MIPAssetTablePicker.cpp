#include "MIPAssetTablePicker.h"

#include <cmath>

#include "plat/dispatch/Queues.h"
#include "MIPImagePickerController.h"
#include "plat/uikit/UINavigationController.h"

namespace harbor {

MIPAssetTablePicker::MIPAssetTablePicker() { columns = 4; }

void MIPAssetTablePicker::initWithNibNameBundle() { columns = 0; }

void MIPAssetTablePicker::viewDidLoad() {
  auto table = tableView();
  table->setShowsSeparators(false);
  table->setAllowsSelection(false);
  mipAssets.clear();
  if (!immediateReturn) {
    std::weak_ptr<MIPAssetTablePicker> weak = std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this());
    setRightBarButtonItem(std::make_shared<plat::UIBarButtonItem>(plat::UIBarButtonItem::Done, [weak] {
      if (auto self = weak.lock()) self->doneAction();
    }));
    setTitle("Loading...");
  }
  preparePhotos();
}

void MIPAssetTablePicker::updateColumns() {
  columns = static_cast<std::int32_t>(view()->bounds().size.width / 80);
}

void MIPAssetTablePicker::viewWillAppear(bool animated) { updateColumns(); }

void MIPAssetTablePicker::viewDidAppear(bool animated) {
  onScreen_ = true;
  offerToTheDriver();
}

void MIPAssetTablePicker::viewDidDisappear(bool animated) {
  onScreen_ = false;
  plat::UIDriver::shared().screenDidDisappear(this);
}

void MIPAssetTablePicker::offerToTheDriver() {
  if (onScreen_ && photosRead_)
    plat::UIDriver::shared().screenDidAppear(
        std::dynamic_pointer_cast<plat::UIDrivenScreen>(std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this())));
}

std::vector<std::string> MIPAssetTablePicker::buttonTitles() const {
  if (immediateReturn) return {};
  return {"Done"};
}

bool MIPAssetTablePicker::tapButton(const std::string& title) {
  if (title != "Done" || immediateReturn) return false;
  doneAction();
  return true;
}

std::vector<plat::UIDrivenScreen::Row> MIPAssetTablePicker::rows() const {
  std::vector<Row> out;
  for (std::size_t i = 0; i < mipAssets.size(); ++i) {
    const auto& url = mipAssets[i]->asset ? mipAssets[i]->asset->assetURL() : nullptr;
    out.push_back({static_cast<std::int64_t>(i), url ? url->absoluteString() : std::string()});
  }
  return out;
}

bool MIPAssetTablePicker::selectRow(std::int64_t id) {
  if (id < 0 || static_cast<std::size_t>(id) >= mipAssets.size()) return false;
  auto item = mipAssets[static_cast<std::size_t>(id)];
  item->setSelected(!item->selected());
  return true;
}

std::optional<long> MIPAssetTablePicker::selectionLimit() const {
  auto picker = std::dynamic_pointer_cast<MIPImagePickerController>(navigationController());
  if (!picker) return std::nullopt;
  return picker->maximumImagesCount;
}

void MIPAssetTablePicker::didRotateFromInterfaceOrientation() {
  updateColumns();
  tableView()->reloadData();
}

void MIPAssetTablePicker::preparePhotos() {
  auto self = std::static_pointer_cast<MIPAssetTablePicker>(shared_from_this());
  std::weak_ptr<MIPAssetTablePicker> weak = self;
  std::weak_ptr<MIPAssetDelegate> itemParent = std::static_pointer_cast<MIPAssetDelegate>(self);
  auto group = assetGroup;
  std::weak_ptr<MIPAssetPickerFilterDelegate> weakFilter = assetPickerFilterDelegate;
  plat::dispatch::GlobalQueue::shared().async([weak, itemParent, group, weakFilter] {
    // Built here whole and handed over at once: the main thread reads mipAssets meanwhile. The
    // screen itself is only held here when a filter must be asked about it, so that it is not
    // let go of on this thread otherwise.
    std::vector<MIPAssetPtr> assets;
    if (group) {
      group->enumerateAssetsUsingBlock([&](const plat::ALAssetPtr& asset, std::size_t, bool&) {
        if (!asset) return;
        auto item = std::make_shared<MIPAsset>();
        item->initWithAsset(asset);
        item->parent = itemParent;
        if (auto filter = weakFilter.lock()) {
          auto screen = weak.lock();
          if (screen && filter->assetTablePickerIsAssetFilteredOut(*screen, *item)) return;
        }
        assets.push_back(std::move(item));
      });
    }
    plat::dispatch::mainAsync([weak, assets = std::move(assets)]() mutable {
      if (auto self = weak.lock()) self->photosPrepared(std::move(assets));
    });
  });
}

void MIPAssetTablePicker::photosPrepared(std::vector<MIPAssetPtr> assets) {
  mipAssets = std::move(assets);
  auto table = tableView();
  table->reloadData();
  long sections = numberOfSectionsInTableView();
  if (sections > 0) {
    long rows = numberOfRowsInSection(sections - 1);
    if (rows > 0) table->scrollToRowAtIndexPath({sections - 1, rows - 1}, plat::UITableViewScrollPositionBottom, false);
  }
  setTitle(singleSelection ? "Pick Photo" : "Pick Photos");
  photosRead_ = true;
  offerToTheDriver();
}

void MIPAssetTablePicker::doneAction() {
  std::vector<plat::ALAssetPtr> selected;
  for (const auto& item : mipAssets)
    if (item->selected()) selected.push_back(item->asset);
  if (auto owner = parent.lock()) owner->selectedAssets(selected);
}

std::size_t MIPAssetTablePicker::totalSelectedAssets() const {
  std::size_t count = 0;
  for (const auto& item : mipAssets) count += item->selected() ? 1 : 0;
  return count;
}

bool MIPAssetTablePicker::shouldSelectAsset(const MIPAsset& asset) {
  auto owner = parent.lock();
  return !owner || owner->shouldSelectAsset(asset, totalSelectedAssets());
}

void MIPAssetTablePicker::assetSelected(MIPAsset& asset) {
  if (singleSelection) {
    for (const auto& item : mipAssets)
      if (item.get() != &asset) item->setSelected(false);
  }
  if (immediateReturn) {
    std::weak_ptr<MIPAssetSelectionDelegate> weakParent = parent;
    std::vector<plat::ALAssetPtr> one{asset.asset};
    plat::dispatch::mainAsync([weakParent, one] {
      if (auto owner = weakParent.lock()) owner->selectedAssets(one);
    });
  }
}

long MIPAssetTablePicker::numberOfRowsInSection(long section) {
  if (columns < 1) columns = 4;
  return static_cast<long>(std::ceil(static_cast<float>(mipAssets.size()) / static_cast<float>(columns)));
}

std::vector<MIPAssetPtr> MIPAssetTablePicker::assetsForIndexPath(plat::NSIndexPath path) const {
  std::size_t perRow = columns < 1 ? 4 : static_cast<std::size_t>(columns);
  std::size_t first = static_cast<std::size_t>(std::max(0L, path.row)) * perRow;
  std::vector<MIPAssetPtr> row;
  for (std::size_t i = first; i < mipAssets.size() && i < first + perRow; ++i) row.push_back(mipAssets[i]);
  return row;
}

plat::UITableViewCellPtr MIPAssetTablePicker::cellForRowAtIndexPath(plat::NSIndexPath path) {
  auto cell = std::make_shared<MIPAssetCell>();
  cell->initWithFrame({{0, 0}, {view()->bounds().size.width, 79}});
  cell->initWithReuseIdentifier("Cell");
  cell->setAssets(assetsForIndexPath(path));
  return cell;
}

}  // namespace harbor
