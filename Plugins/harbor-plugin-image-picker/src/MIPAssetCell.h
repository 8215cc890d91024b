#pragma once
// One row of the grid: up to `columns` thumbnails, each with the overlay that marks it chosen.
// A tap on a thumbnail flips its selection.
#include <memory>
#include <vector>

#include "MIPAsset.h"
#include "plat/uikit/UIImageView.h"
#include "plat/uikit/UITableViewController.h"

namespace harbor {

class MIPAssetCell : public plat::UITableViewCell {
 public:
  MIPAssetCell();
  void setAssets(const std::vector<MIPAssetPtr>& assets);
  // Places the thumbnails in a row centred in the cell's width.
  void layoutSubviews();
  // The tap at a point of the cell.
  void cellTapped(plat::CGPoint point);

  std::vector<MIPAssetPtr> rowAssets;
  std::vector<std::shared_ptr<plat::UIImageView>> imageViewArray;
  std::vector<std::shared_ptr<plat::UIImageView>> overlayViewArray;
};
using MIPAssetCellPtr = std::shared_ptr<MIPAssetCell>;

}  // namespace harbor
