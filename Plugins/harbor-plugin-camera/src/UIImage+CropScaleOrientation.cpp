#include "UIImage+CropScaleOrientation.h"

#include <cmath>
#include <numbers>

#include <plat/foundation/Log.h>
#include <plat/uikit/UIGraphics.h>

namespace harbor {
namespace {

std::shared_ptr<plat::UIImage> drawInNewContext(const plat::UIImage& image, plat::CGSize contextSize,
                                                plat::CGRect rect) {
  plat::UIGraphicsBeginImageContext(contextSize);
  image.drawInRect(rect);
  auto scaled = plat::UIGraphicsGetImageFromCurrentImageContext();
  if (!scaled) plat::NSLog("could not scale image");
  plat::UIGraphicsEndImageContext();
  return scaled;
}

}  // namespace

std::shared_ptr<plat::UIImage> imageByScalingAndCroppingForSize(const plat::UIImage& image, plat::CGSize targetSize) {
  const plat::CGSize size = image.size();
  const double w = size.width, h = size.height, tw = targetSize.width, th = targetSize.height;
  double scaledWidth = tw, scaledHeight = th;
  plat::CGPoint origin{0, 0};
  if (!(w == tw && h == th)) {
    const double fw = tw / w, fh = th / h;
    const double scale = fw > fh ? fw : fh;
    scaledWidth = w * scale;
    scaledHeight = h * scale;
    // The offset is negative: the overflow is cut off equally on both sides.
    if (fw > fh) {
      origin.y = (th - scaledHeight) * 0.5;
    } else if (fw < fh) {
      origin.x = (tw - scaledWidth) * 0.5;
    }
  }
  return drawInNewContext(image, targetSize, plat::CGRect{origin, {scaledWidth, scaledHeight}});
}

std::shared_ptr<plat::UIImage> imageByScalingNotCroppingForSize(const plat::UIImage& image, plat::CGSize targetSize) {
  const plat::CGSize size = image.size();
  const double w = size.width, h = size.height, tw = targetSize.width, th = targetSize.height;
  plat::CGSize newSize = targetSize;
  if (!(w == tw && h == th)) {
    const double fw = tw / w, fh = th / h;
    // The side that sets the scale gets exactly its target, and the other one is worked out with
    // a single division: w * (tw / w) can come out just below tw (61 from a 7-pixel side gives
    // 60.999...), which the truncation below would turn into a pixel lost.
    if (fw > fh) {
      newSize = {std::min(w * th / h, tw), th};
    } else {
      newSize = {tw, std::min(h * tw / w, th)};
    }
  }
  newSize = {std::trunc(newSize.width), std::trunc(newSize.height)};
  return drawInNewContext(image, newSize, plat::CGRect{{0, 0}, newSize});
}

std::shared_ptr<plat::UIImage> imageCorrectedForCaptureOrientation(const plat::UIImage& image, long orientation) {
  float rotation = 0;
  bool perpendicular = false;
  switch (orientation) {
    case plat::UIImageOrientationRight:
      rotation = static_cast<float>(std::numbers::pi / 2);
      perpendicular = true;
      break;
    case plat::UIImageOrientationLeft:
      rotation = static_cast<float>(-std::numbers::pi / 2);
      perpendicular = true;
      break;
    case plat::UIImageOrientationDown:
      rotation = static_cast<float>(std::numbers::pi);
      break;
    default:
      break;
  }
  const plat::CGSize size = image.size();
  plat::UIGraphicsBeginImageContext(size);
  if (plat::CGContextRef context = plat::UIGraphicsGetCurrentContext(); context && image.CGImage()) {
    if (orientation >= plat::UIImageOrientationUpMirrored && orientation <= plat::UIImageOrientationRightMirrored) {
      // A mirrored capture must be flipped as well as turned; drawing the stored bitmap unturned
      // would leave it mirrored, and stretched across the swapped sides for the sideways ones.
      context->drawImage(*image.CGImage(), plat::CGRect{{0, 0}, size}, false,
                         static_cast<plat::UIImageOrientation>(orientation));
    } else {
      plat::CGContextTranslateCTM(context, size.width * 0.5, size.height * 0.5);
      plat::CGContextRotateCTM(context, rotation);
      plat::CGContextScaleCTM(context, 1.0, -1.0);
      const float width = static_cast<float>(perpendicular ? size.height : size.width);
      const float height = static_cast<float>(perpendicular ? size.width : size.height);
      const float x = -width * 0.5f, y = -height * 0.5f;
      plat::CGContextDrawImage(context, plat::CGRectMake(x, y, width, height), image.CGImage());
    }
  }
  auto upright = plat::UIGraphicsGetImageFromCurrentImageContext();
  plat::UIGraphicsEndImageContext();
  return upright;
}

std::shared_ptr<plat::UIImage> imageCorrectedForCaptureOrientation(const plat::UIImage& image) {
  return imageCorrectedForCaptureOrientation(image, image.imageOrientation());
}

}  // namespace harbor
