#pragma once
// One thumbnail of the grid: a photo of the library and whether it is chosen.
#include <memory>

#include "MIPDelegates.h"
#include "plat/foundation/Object.h"

namespace harbor {

class MIPAsset : public plat::Object {
 public:
  void initWithAsset(plat::ALAssetPtr asset) { this->asset = std::move(asset); }

  bool selected() const { return selected_; }
  // Selecting asks the parent first; a refusal leaves it unselected. Deselecting just clears it.
  void setSelected(bool selected);
  void toggleSelection() { setSelected(!selected_); }

  plat::ALAssetPtr asset;
  std::weak_ptr<MIPAssetDelegate> parent;

 private:
  bool selected_ = false;
};
using MIPAssetPtr = std::shared_ptr<MIPAsset>;

}  // namespace harbor
