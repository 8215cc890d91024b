#pragma once
// The image operations the camera applies to a picked picture before encoding it. Each draws a
// new image in a fresh image context; the receiver is not changed. Sizes are in points.
#include <plat/uikit/Geometry.h>
#include <plat/uikit/UIImage.h>

#include <memory>

namespace harbor {

// Scales the image to fill `targetSize` and cuts the overflow off equally on both sides: an
// image of exactly the target size, or none (logged) when no context of that size can be made.
std::shared_ptr<plat::UIImage> imageByScalingAndCroppingForSize(const plat::UIImage& image, plat::CGSize targetSize);

// Scales the image to fit inside `targetSize`, keeping its proportions: whole-number sides no
// larger than the target, or none (logged) when no context of that size can be made.
std::shared_ptr<plat::UIImage> imageByScalingNotCroppingForSize(const plat::UIImage& image, plat::CGSize targetSize);

// Redraws the stored bitmap upright as if it had been captured in `orientation` (the platform's
// values, 0 to 7), in a context of the image's displayed size. Values outside 0 to 7 leave the
// bitmap unturned.
std::shared_ptr<plat::UIImage> imageCorrectedForCaptureOrientation(const plat::UIImage& image, long orientation);
// The same with the image's own orientation.
std::shared_ptr<plat::UIImage> imageCorrectedForCaptureOrientation(const plat::UIImage& image);

}  // namespace harbor
