#pragma once
// What the picker's screens ask of each other, from the grid up to the plugin.
#include <cstdint>
#include <memory>
#include <vector>

#include "plat/assetslibrary/ALAssetsLibrary.h"

namespace harbor {

class MIPImagePickerController;
class MIPAsset;
class MIPAssetTablePicker;

// One chosen photo as the plugin receives it.
struct MIPPickedInfo {
  plat::ALAssetPtr asset;        // "ALAsset"
  plat::NSURLPtr referenceURL;   // UIImagePickerControllerReferenceURL
};

class MIPImagePickerControllerDelegate {
 public:
  virtual ~MIPImagePickerControllerDelegate() = default;
  virtual void mipImagePickerControllerDidFinishPickingMediaWithInfo(MIPImagePickerController& picker,
                                                                     const std::vector<MIPPickedInfo>& info) = 0;
  virtual void mipImagePickerControllerDidCancel(MIPImagePickerController& picker) = 0;
};

class MIPAssetSelectionDelegate {
 public:
  virtual ~MIPAssetSelectionDelegate() = default;
  virtual void selectedAssets(const std::vector<plat::ALAssetPtr>& assets) = 0;
  virtual bool shouldSelectAsset(const MIPAsset& asset, std::uint64_t previousCount) = 0;
};

// Both optional: a parent that does not implement them allows every selection.
class MIPAssetDelegate {
 public:
  virtual ~MIPAssetDelegate() = default;
  virtual void assetSelected(MIPAsset& asset) {}
  virtual bool shouldSelectAsset(const MIPAsset& asset) { return true; }
};

class MIPAssetPickerFilterDelegate {
 public:
  virtual ~MIPAssetPickerFilterDelegate() = default;
  virtual bool assetTablePickerIsAssetFilteredOut(MIPAssetTablePicker& picker, const MIPAsset& asset) { return false; }
};

}  // namespace harbor
