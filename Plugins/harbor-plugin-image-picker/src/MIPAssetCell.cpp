#include "MIPAssetCell.h"

namespace harbor {
namespace {

constexpr double kThumbnailSide = 75;
constexpr double kGap = 4;

}  // namespace

MIPAssetCell::MIPAssetCell() {
  imageViewArray.reserve(4);
  overlayViewArray.reserve(4);
}

void MIPAssetCell::setAssets(const std::vector<MIPAssetPtr>& assets) {
  rowAssets = assets;
  for (const auto& view : imageViewArray) view->removeFromSuperview();
  for (const auto& view : overlayViewArray) view->removeFromSuperview();
  auto overlay = plat::UIImage::imageNamed("Overlay.png");
  for (std::size_t i = 0; i < rowAssets.size(); ++i) {
    auto thumbnail = rowAssets[i]->asset ? rowAssets[i]->asset->thumbnail() : nullptr;
    if (i < imageViewArray.size()) {
      imageViewArray[i]->setImage(thumbnail);
    } else {
      auto view = std::make_shared<plat::UIImageView>();
      view->initWithFrame({});
      view->setImage(thumbnail);
      imageViewArray.push_back(view);
    }
    if (i >= overlayViewArray.size()) {
      auto view = std::make_shared<plat::UIImageView>();
      view->initWithFrame({});
      view->setImage(overlay);
      overlayViewArray.push_back(view);
    }
    overlayViewArray[i]->setHidden(!rowAssets[i]->selected());
  }
  layoutSubviews();
}

void MIPAssetCell::layoutSubviews() {
  double n = static_cast<double>(rowAssets.size());
  double startX = (frame().size.width - (n * kThumbnailSide + n * kGap - kGap)) * 0.5;
  for (std::size_t i = 0; i < rowAssets.size(); ++i) {
    plat::CGRect frame{{startX + static_cast<double>(i) * (kThumbnailSide + kGap), 2}, {kThumbnailSide, kThumbnailSide}};
    imageViewArray[i]->setFrame(frame);
    overlayViewArray[i]->setFrame(frame);
    addSubview(imageViewArray[i]);
    addSubview(overlayViewArray[i]);
  }
}

void MIPAssetCell::cellTapped(plat::CGPoint point) {
  for (std::size_t i = 0; i < rowAssets.size(); ++i) {
    plat::CGRect f = imageViewArray[i]->frame();
    if (point.x < f.origin.x || point.x > f.origin.x + f.size.width || point.y < f.origin.y ||
        point.y > f.origin.y + f.size.height)
      continue;
    auto asset = rowAssets[i];
    asset->setSelected(!asset->selected());
    overlayViewArray[i]->setHidden(!asset->selected());
    return;
  }
}

}  // namespace harbor
