// The camera's image operations: sizes and origins from the scaling rules, and the pixels that
// end up where, read back from the new bitmaps.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <cmath>
#include <string>
#include <vector>

#include "UIImage+CropScaleOrientation.h"
#include "plat/testing/PlatformTest.h"
#include "plat/uikit/UIGraphics.h"

using namespace plat;
using harbor::imageByScalingAndCroppingForSize;
using harbor::imageByScalingNotCroppingForSize;
using harbor::imageCorrectedForCaptureOrientation;

namespace {

using Rgba = std::array<int, 4>;

CGImageRef filled(std::size_t w, std::size_t h, const std::function<Rgba(std::size_t, std::size_t)>& colour) {
  auto image = std::make_shared<plat::CGImage>();
  image->width = w;
  image->height = h;
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      Rgba c = colour(x, y);
      image->rgba.insert(image->rgba.end(), {std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]),
                                             std::uint8_t(c[3])});
    }
  }
  return image;
}

Rgba at(const UIImage& image, std::size_t x, std::size_t y) {
  const std::uint8_t* p = image.CGImage()->pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}

const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};

class ImageScaling : public plat::testing::PlatformTest {};

TEST_F(ImageScaling, CropKeepsTheMiddleSquare) {
  // Red and blue quarters at the sides of a green middle.
  auto image = UIImage::imageWithCGImage(filled(200, 100, [](std::size_t x, std::size_t) {
    return x < 50 ? red : x >= 150 ? blue : green;
  }));
  auto cropped = imageByScalingAndCroppingForSize(*image, {100, 100});
  ASSERT_TRUE(cropped);
  EXPECT_EQ(cropped->size(), (CGSize{100, 100}));
  for (std::size_t x : {0, 1, 50, 98, 99}) {
    for (std::size_t y : {0, 50, 99}) EXPECT_EQ(at(*cropped, x, y), green) << x << "," << y;
  }
  // Tall: the overflow leaves at top and bottom.
  auto tall = UIImage::imageWithCGImage(filled(10, 40, [](std::size_t, std::size_t y) {
    return y < 10 ? red : y >= 30 ? blue : green;
  }));
  auto square = imageByScalingAndCroppingForSize(*tall, {20, 20});
  ASSERT_TRUE(square);
  EXPECT_EQ(square->size(), (CGSize{20, 20}));
  EXPECT_EQ(at(*square, 0, 0), green);
  EXPECT_EQ(at(*square, 19, 19), green);
}

TEST_F(ImageScaling, FitSizes) {
  struct Case {
    CGSize image, target, expected;
  };
  const std::vector<Case> cases = {
      {{200, 100}, {100, 100}, {100, 50}}, {{150, 101}, {100, 100}, {100, 67}},
      {{100, 200}, {100, 100}, {50, 100}}, {{50, 25}, {100, 100}, {100, 50}},
      {{7, 7}, {61, 61}, {61, 61}},        {{7, 3}, {61, 1000}, {61, 26}},
      {{40, 30}, {40, 30}, {40, 30}},      {{40, 30}, {40.5, 30.9}, {40, 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.image.width) + "x" + std::to_string(c.image.height) + " to " +
                 std::to_string(c.target.width) + "x" + std::to_string(c.target.height));
    auto image = UIImage::imageWithCGImage(
        filled(std::size_t(c.image.width), std::size_t(c.image.height), [](auto, auto) { return green; }));
    auto fitted = imageByScalingNotCroppingForSize(*image, c.target);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->size(), c.expected);
    // The picture fills the whole new bitmap.
    EXPECT_EQ(at(*fitted, 0, 0), green);
    EXPECT_EQ(at(*fitted, std::size_t(c.expected.width) - 1, std::size_t(c.expected.height) - 1), green);
  }
  // An image of the target size in points (a 2x bitmap of 81 x 61 pixels) still truncates.
  auto retina = UIImage::imageWithCGImage(filled(81, 61, [](auto, auto) { return green; }), 2.0);
  auto same = imageByScalingNotCroppingForSize(*retina, retina->size());
  ASSERT_TRUE(same);
  EXPECT_EQ(same->size(), (CGSize{40, 30}));
}

TEST_F(ImageScaling, ImpossibleTargetsGiveNoImageAndALogLine) {
  auto image = UIImage::imageWithCGImage(filled(20, 10, [](auto, auto) { return green; }));
  for (CGSize target : {CGSize{0, 0}, CGSize{-5, 10}, CGSize{NAN, 10}, CGSize{1e6, 1e6}, CGSize{0.5, 0.5}}) {
    SCOPED_TRACE(std::to_string(target.width) + "x" + std::to_string(target.height));
    log_->clear();
    EXPECT_EQ(imageByScalingNotCroppingForSize(*image, target), nullptr);
    EXPECT_EQ(log_->count("could not scale image"), 1u);
    if (target.width >= 1) {
      log_->clear();
      EXPECT_EQ(imageByScalingAndCroppingForSize(*image, target), nullptr);
      EXPECT_EQ(log_->count("could not scale image"), 1u);
    }
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);  // every context closed again
  }
}

// Which stored pixel shows at displayed (x, y), for a stored bitmap of w x h.
std::pair<std::size_t, std::size_t> stored(long o, std::size_t x, std::size_t y, std::size_t w, std::size_t h) {
  switch (o) {
    case 1: return {w - 1 - x, h - 1 - y};
    case 2: return {w - 1 - y, x};
    case 3: return {y, h - 1 - x};
    case 4: return {w - 1 - x, y};
    case 5: return {x, h - 1 - y};
    case 6: return {y, x};
    case 7: return {w - 1 - y, h - 1 - x};
    default: return {x, y};
  }
}

TEST_F(ImageScaling, CaptureOrientationIsRedrawnUpright) {
  const std::size_t w = 40, h = 30;  // a landscape sensor bitmap
  auto bitmap = filled(w, h, [](std::size_t x, std::size_t y) { return Rgba{int(x * 6), int(y * 8), 9, 255}; });
  for (long o = 0; o <= 7; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    auto image = UIImage::imageWithCGImage(bitmap, 1.0, static_cast<UIImageOrientation>(o));
    auto upright = imageCorrectedForCaptureOrientation(*image);
    ASSERT_TRUE(upright);
    EXPECT_EQ(upright->imageOrientation(), UIImageOrientationUp);
    ASSERT_EQ(upright->size(), image->size());
    std::size_t mismatches = 0;
    for (std::size_t y = 0; y < std::size_t(image->size().height); ++y) {
      for (std::size_t x = 0; x < std::size_t(image->size().width); ++x) {
        auto [sx, sy] = stored(o, x, y, w, h);
        const std::uint8_t* p = bitmap->pixel(sx, sy);
        if (at(*upright, x, y) != Rgba{p[0], p[1], p[2], p[3]}) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
}

TEST_F(ImageScaling, CaptureOrientationKeepsTheDisplayedSize) {
  // A portrait camera picture: stored 40 x 30, shown turned right as 30 x 40.
  auto portrait = UIImage::imageWithCGImage(filled(40, 30, [](auto, auto) { return blue; }), 1.0,
                                            UIImageOrientationRight);
  auto upright = imageCorrectedForCaptureOrientation(*portrait);
  ASSERT_TRUE(upright);
  EXPECT_EQ(upright->size(), (CGSize{30, 40}));
  EXPECT_EQ(at(*upright, 0, 0), blue);
  EXPECT_EQ(at(*upright, 29, 39), blue);
  // Values beyond the platform's leave the bitmap unturned.
  auto plain = UIImage::imageWithCGImage(filled(4, 2, [](std::size_t x, auto) { return x ? green : red; }));
  auto same = imageCorrectedForCaptureOrientation(*plain, 42);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->CGImage()->rgba, plain->CGImage()->rgba);
  EXPECT_FALSE(log_->contains("could not scale image"));
}

}  // namespace
