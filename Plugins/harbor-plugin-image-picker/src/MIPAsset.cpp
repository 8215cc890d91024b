#include "MIPAsset.h"

namespace harbor {

void MIPAsset::setSelected(bool selected) {
  if (!selected) {
    selected_ = false;
    return;
  }
  auto owner = parent.lock();
  if (owner && !owner->shouldSelectAsset(*this)) return;
  selected_ = true;
  if (owner) owner->assetSelected(*this);
}

}  // namespace harbor
