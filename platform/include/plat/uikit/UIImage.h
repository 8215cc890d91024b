#pragma once
// Images: an immutable RGBA bitmap (CGImage) shown in one of eight orientations (UIImage), with
// JPEG (libjpeg-turbo) and PNG (libpng) decoding and encoding.
//
// Decoding takes bytes from files and the network: anything that is not a whole, decodable
// picture of at most kMaxImagePixels pixels gives no image.
//
// Orientation travels with a JPEG, as on the platform: a JPEG's Exif "Orientation" becomes the
// image's orientation when it is read (the bitmap stays as stored; `size` is the displayed size),
// and a turned image is written as its stored bitmap with that orientation in the Exif segment,
// so that every reader that honours the tag (WebKit, viewers, this class) shows it upright. PNG
// carries no orientation here: a PNG reads as up, and a turned image is written drawn upright.
#include <plat/foundation/Object.h>
#include <plat/foundation/Value.h>
#include <plat/uikit/Geometry.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat {

// Larger bitmaps are refused rather than allocated (about 256 MB of RGBA).
inline constexpr std::size_t kMaxImagePixels = std::size_t{1} << 26;

// The platform's values: how the stored bitmap is turned to be shown upright.
enum UIImageOrientation : long {
  UIImageOrientationUp = 0,
  UIImageOrientationDown = 1,         // 180 degrees
  UIImageOrientationLeft = 2,         // 90 degrees counter-clockwise
  UIImageOrientationRight = 3,        // 90 degrees clockwise
  UIImageOrientationUpMirrored = 4,   // the mirrored counterparts of the four above
  UIImageOrientationDownMirrored = 5,
  UIImageOrientationLeftMirrored = 6,
  UIImageOrientationRightMirrored = 7
};

// The Exif "Orientation" values 1 to 8 (the platform's CGImagePropertyOrientation) as image
// orientations and back. Any other value stands for up.
UIImageOrientation UIImageOrientationFromExif(long exifOrientation);
int ExifOrientationFromUIImageOrientation(UIImageOrientation orientation);

// Straight (not premultiplied) 8-bit RGBA, rows top to bottom, no padding.
struct CGImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> rgba;

  const std::uint8_t* pixel(std::size_t x, std::size_t y) const { return &rgba[(y * width + x) * 4]; }
};
using CGImageRef = std::shared_ptr<const CGImage>;

// A bitmap of width x height, all transparent; none when a side is 0 or it exceeds kMaxImagePixels.
CGImageRef CGImageCreateBlank(std::size_t width, std::size_t height);

class UIImage : public Object {
 public:
  // Creation is two-step; the init methods answer false (and leave no bitmap) on bad input.
  bool initWithCGImage(CGImageRef image, double scale = 1.0, UIImageOrientation orientation = UIImageOrientationUp);
  // Decodes JPEG or PNG bytes (the kind is taken from the signature). A JPEG takes the
  // orientation its Exif segment states (up without one, or with a value outside 1 to 8).
  bool initWithData(const Data& data);

  static std::shared_ptr<UIImage> imageWithCGImage(CGImageRef image, double scale = 1.0,
                                                   UIImageOrientation orientation = UIImageOrientationUp);
  static std::shared_ptr<UIImage> imageWithData(const Data& data);
  // The picture of that name in the main bundle: a name without an extension is looked for as
  // "<name>@<screen scale>x.png", then "<name>.png". None when there is no such picture. As on
  // the platform, a PNG file's pixels are decoded when first needed (CGImage, drawing,
  // encoding): its header gives the size at once, so an image that is only shown costs no
  // decoding. A file whose header reads but whose pixels do not decode then has no bitmap.
  static std::shared_ptr<UIImage> imageNamed(const std::string& name);
  // The name it was found by (empty for images made otherwise).
  const std::string& name() const { return name_; }

  // Any thread.
  CGImageRef CGImage() const;
  double scale() const { return scale_; }
  UIImageOrientation imageOrientation() const { return orientation_; }
  // The displayed size in points: the bitmap's, divided by the scale, with width and height
  // swapped for the four sideways orientations.
  CGSize size() const;

  // Draws the image upright (as displayed) into the rectangle of the current image context.
  void drawInRect(CGRect rect) const;

 private:
  // PNG bytes still to be decoded into image_ (see imageNamed), and the size their header gave.
  struct PendingDecode {
    Data bytes;
    std::size_t width = 0;
    std::size_t height = 0;
    std::once_flag once;
  };

  mutable CGImageRef image_;
  std::shared_ptr<PendingDecode> pending_;
  double scale_ = 1.0;
  UIImageOrientation orientation_ = UIImageOrientationUp;
  std::string name_;
};

// JPEG bytes of the image, quality 0.0 to 1.0; empty when there is nothing to encode. The stored
// bitmap is written, and a turned image's orientation goes into an Exif segment ("Orientation"
// in IFD0), so the JPEG shows as the image is displayed; an upright image gets no Exif segment.
Data UIImageJPEGRepresentation(const UIImage& image, double compressionQuality);
// PNG bytes of the image as displayed (a turned image is drawn upright); empty when there is
// nothing to encode.
Data UIImagePNGRepresentation(const UIImage& image);

}  // namespace plat
