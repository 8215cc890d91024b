#pragma once
// A view that shows one image. Nothing is drawn; the image and its placement are kept.
#include <memory>

#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIView.h"

namespace plat {

class UIImageView : public UIView {
 public:
  std::shared_ptr<UIImage> image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image) { image_ = std::move(image); }

 private:
  std::shared_ptr<UIImage> image_;
};

}  // namespace plat
