// Images: decoding and encoding through libjpeg and libpng, orientations, image contexts.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "plat/uikit/UIGraphics.h"
#include "plat/testing/SandboxTest.h"
#include "plat/uikit/UIImage.h"
#include "plat/uikit/UIScreen.h"

using namespace plat;

namespace {

using Rgba = std::array<int, 4>;

// A bitmap whose every pixel is told apart by its red and green values.
CGImageRef gradient(std::size_t w, std::size_t h) {
  auto image = std::make_shared<plat::CGImage>();
  image->width = w;
  image->height = h;
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      image->rgba.insert(image->rgba.end(), {std::uint8_t(x * 40), std::uint8_t(y * 40), 77, 255});
    }
  }
  return image;
}

Rgba at(const plat::CGImage& image, std::size_t x, std::size_t y) {
  const std::uint8_t* p = image.pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}

// Which stored pixel shows at displayed (x, y), for a stored bitmap of w x h.
std::pair<std::size_t, std::size_t> stored(UIImageOrientation o, std::size_t x, std::size_t y, std::size_t w,
                                           std::size_t h) {
  switch (o) {
    case UIImageOrientationDown: return {w - 1 - x, h - 1 - y};
    case UIImageOrientationLeft: return {w - 1 - y, x};
    case UIImageOrientationRight: return {y, h - 1 - x};
    case UIImageOrientationUpMirrored: return {w - 1 - x, y};
    case UIImageOrientationDownMirrored: return {x, h - 1 - y};
    case UIImageOrientationLeftMirrored: return {y, x};
    case UIImageOrientationRightMirrored: return {w - 1 - y, h - 1 - x};
    default: return {x, y};
  }
}

TEST(UIImage, DrawInRectShowsEachOrientationUpright) {
  const std::size_t w = 4, h = 3;
  for (long o = 0; o <= 7; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    auto orientation = static_cast<UIImageOrientation>(o);
    auto image = UIImage::imageWithCGImage(gradient(w, h), 1.0, orientation);
    ASSERT_TRUE(image);
    bool sideways = o == 2 || o == 3 || o == 6 || o == 7;
    CGSize size = image->size();
    EXPECT_EQ(size, (sideways ? CGSize{3, 4} : CGSize{4, 3}));
    UIGraphicsBeginImageContext(size);
    image->drawInRect(CGRect{{0, 0}, size});
    auto drawn = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_TRUE(drawn);
    const plat::CGImage& out = *drawn->CGImage();
    ASSERT_EQ(out.width, std::size_t(size.width));
    for (std::size_t y = 0; y < out.height; ++y) {
      for (std::size_t x = 0; x < out.width; ++x) {
        auto [sx, sy] = stored(orientation, x, y, w, h);
        EXPECT_EQ(at(out, x, y), at(*image->CGImage(), sx, sy)) << x << "," << y;
      }
    }
  }
}

TEST(UIImage, DrawImageFollowsTheYUpConventionAndTheCTM) {
  auto bitmap = gradient(2, 2);
  UIGraphicsBeginImageContext({2, 2});
  CGContextDrawImage(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 2, 2), bitmap);
  auto flipped = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  ASSERT_TRUE(flipped);
  EXPECT_EQ(at(*flipped->CGImage(), 0, 0), at(*bitmap, 0, 1));

  UIGraphicsBeginImageContext({2, 2});
  CGContextRef context = UIGraphicsGetCurrentContext();
  CGContextTranslateCTM(context, 0, 2);
  CGContextScaleCTM(context, 1, -1);
  CGContextDrawImage(context, CGRectMake(0, 0, 2, 2), bitmap);
  auto upright = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  EXPECT_EQ(upright->CGImage()->rgba, bitmap->rgba);
}

TEST(UIImage, RefusedContextsStillPairAndGiveNoImage) {
  UIGraphicsBeginImageContext({2, 2});
  CGContextRef outer = UIGraphicsGetCurrentContext();
  for (CGSize size : {CGSize{0, 5}, CGSize{-1, 5}, CGSize{NAN, 5}, CGSize{INFINITY, 5}, CGSize{1e6, 1e6}}) {
    UIGraphicsBeginImageContext(size);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
    CGContextTranslateCTM(UIGraphicsGetCurrentContext(), 1, 1);  // no context: nothing happens
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);
  }
  // Fractional sides round up, so nothing drawn is cut off.
  UIGraphicsBeginImageContext({2.2, 1.5});
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  EXPECT_EQ(image->size(), (CGSize{3, 2}));
  UIGraphicsEndImageContext();
  EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
  UIGraphicsEndImageContext();  // unbalanced end: ignored
}

TEST(UIImage, PngRoundTripKeepsEveryPixelAndTheDisplayedTurn) {
  auto image = UIImage::imageWithCGImage(gradient(4, 3), 1.0, UIImageOrientationRight);
  Data png = UIImagePNGRepresentation(*image);
  ASSERT_FALSE(png.empty());
  auto decoded = UIImage::imageWithData(png);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->imageOrientation(), UIImageOrientationUp);
  ASSERT_EQ(decoded->size(), (CGSize{3, 4}));
  for (std::size_t y = 0; y < 4; ++y) {
    for (std::size_t x = 0; x < 3; ++x) {
      auto [sx, sy] = stored(UIImageOrientationRight, x, y, 4, 3);
      EXPECT_EQ(at(*decoded->CGImage(), x, y), at(*image->CGImage(), sx, sy));
    }
  }
}

TEST(UIImage, JpegRoundTripAndQuality) {
  auto bitmap = std::make_shared<plat::CGImage>();
  bitmap->width = 64;
  bitmap->height = 48;
  for (std::size_t i = 0; i < 64 * 48; ++i) {
    bitmap->rgba.insert(bitmap->rgba.end(), {std::uint8_t(i * 7), std::uint8_t(i * 13), std::uint8_t(i), 255});
  }
  auto image = UIImage::imageWithCGImage(bitmap, 1.0, UIImageOrientationLeft);
  Data best = UIImageJPEGRepresentation(*image, 1.0);
  Data worst = UIImageJPEGRepresentation(*image, 0.0);
  Data odd = UIImageJPEGRepresentation(*image, NAN);
  ASSERT_FALSE(best.empty());
  ASSERT_FALSE(worst.empty());
  EXPECT_FALSE(odd.empty());
  EXPECT_LT(worst.size(), best.size());
  auto decoded = UIImage::imageWithData(best);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), (CGSize{48, 64}));
}

TEST(UIImage, BadBytesGiveNoImage) {
  auto flat = UIImage::imageWithCGImage(gradient(8, 8));
  Data jpeg = UIImageJPEGRepresentation(*flat, 0.8);
  Data png = UIImagePNGRepresentation(*flat);
  Data truncatedPng(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
  Data jpegHeaderOnly(jpeg.begin(), jpeg.begin() + 20);
  // A PNG header claiming 100000 x 100000 pixels.
  Data hugePng = png;
  for (int i : {16, 20}) {
    hugePng[i] = 0x00, hugePng[i + 1] = 0x01, hugePng[i + 2] = 0x86, hugePng[i + 3] = 0xa0;
  }
  struct Case {
    const char* name;
    Data bytes;
  };
  for (const auto& c : std::vector<Case>{{"empty", {}},
                                         {"text", {'h', 'e', 'l', 'l', 'o'}},
                                         {"jpeg signature only", {0xff, 0xd8, 0xff}},
                                         {"jpeg header cut", jpegHeaderOnly},
                                         {"png cut in half", truncatedPng},
                                         {"png too large", hugePng}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UIImage::imageWithData(c.bytes), nullptr);
  }
}

TEST(UIImage, InitRefusesInconsistentBitmaps) {
  auto shortBitmap = std::make_shared<plat::CGImage>();
  shortBitmap->width = 4;
  shortBitmap->height = 4;
  shortBitmap->rgba.resize(10);
  EXPECT_EQ(UIImage::imageWithCGImage(shortBitmap), nullptr);
  EXPECT_EQ(UIImage::imageWithCGImage(nullptr), nullptr);
  EXPECT_EQ(UIImage::imageWithCGImage(gradient(2, 2), 0.0), nullptr);
  EXPECT_EQ(UIImage::imageWithCGImage(gradient(2, 2), 1.0, static_cast<UIImageOrientation>(8)), nullptr);
  EXPECT_EQ(CGImageCreateBlank(0, 5), nullptr);
  auto scaled = UIImage::imageWithCGImage(gradient(4, 2), 2.0);
  EXPECT_EQ(scaled->size(), (CGSize{2, 1}));
}

}  // namespace

namespace {

// Decoding stops cleanly wherever the bytes end or go wrong (the sanitizer build checks reads).
TEST(UIImage, DecodingSurvivesEveryCutAndChangedBytes) {
  auto flat = UIImage::imageWithCGImage(gradient(6, 5));
  // A turned image's JPEG carries an Exif segment, which is read too.
  auto turned = UIImage::imageWithCGImage(gradient(6, 5), 1.0, UIImageOrientationRight);
  // A cut picture is a partial one: refused. Only what follows the pixels may go missing: the
  // JPEG end marker (2 bytes), the PNG end chunk (12 bytes).
  for (const auto& [whole, trailer] : {std::pair{UIImageJPEGRepresentation(*flat, 0.5), 2},
                                       std::pair{UIImageJPEGRepresentation(*turned, 0.5), 2},
                                       std::pair{UIImagePNGRepresentation(*flat), 12}}) {
    ASSERT_FALSE(whole.empty());
    ASSERT_TRUE(UIImage::imageWithData(whole));
    for (std::size_t n = 0; n + trailer < whole.size(); ++n) {
      EXPECT_EQ(UIImage::imageWithData(Data(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n))), nullptr)
          << n << " of " << whole.size();
    }
    for (std::size_t i = 0; i < whole.size(); i += 3) {
      Data changed = whole;
      changed[i] ^= 0x5a;
      auto image = UIImage::imageWithData(changed);
      if (image) {
        EXPECT_EQ(image->CGImage()->rgba.size(), image->CGImage()->width * image->CGImage()->height * 4);
      }
    }
  }
}

}  // namespace

class NamedImage : public plat::testing::SandboxTest {
 protected:
  void TearDown() override {
    UIScreen::mainScreen().setScale(2);
    SandboxTest::TearDown();
  }
};

// A picture from the bundle costs nothing until its pixels are needed; they are then the file's.
TEST_F(NamedImage, PixelsAreDecodedWhenFirstNeeded) {
  UIScreen::mainScreen().setScale(1);
  Data png = UIImagePNGRepresentation(*UIImage::imageWithCGImage(gradient(5, 3)));
  writeFile(inBundle("whole.png"), std::string(png.begin(), png.end()));
  // Everything before the pixel data is whole; the pixel data stops after a few bytes.
  std::string bytes(png.begin(), png.end());
  std::size_t idat = bytes.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  writeFile(inBundle("cut.png"), bytes.substr(0, idat + 8));
  writeFile(inBundle("garbage.png"), "not a picture at all");

  auto whole = UIImage::imageNamed("whole");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->size(), (CGSize{5, 3}));
  std::vector<CGImageRef> seen(4);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot, whole] { slot = whole->CGImage(); });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(seen[0]);
  for (const auto& bitmap : seen) EXPECT_EQ(bitmap, seen[0]) << "decoded once";
  EXPECT_EQ(seen[0]->rgba, gradient(5, 3)->rgba);

  auto cut = UIImage::imageNamed("cut");
  ASSERT_TRUE(cut) << "its header reads";
  EXPECT_EQ(cut->size(), (CGSize{5, 3}));
  EXPECT_FALSE(cut->CGImage()) << "but it has no pixels to give";
  EXPECT_TRUE(UIImagePNGRepresentation(*cut).empty());

  EXPECT_FALSE(UIImage::imageNamed("garbage"));
}
