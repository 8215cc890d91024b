#pragma once
// Bitmap image contexts and the drawing calls made on them: a software rasteriser over CGImage
// bitmaps, with the platform's coordinate conventions.
//
// User space starts as the bitmap's own: origin top left, y down, one unit per pixel. The current
// transform (CTM) maps user space to the bitmap. UIImage.drawInRect draws upright in user space;
// CGContextDrawImage follows the drawing API's y-up convention and puts the image's first row at
// the rectangle's largest y, so in an untransformed image context it comes out upside down.
//
// Contexts stack per thread, as UIGraphicsBeginImageContext / UIGraphicsEndImageContext pairs.
#include <plat/uikit/Geometry.h>
#include <plat/uikit/UIImage.h>

#include <memory>

namespace plat {

class CGContext {
 public:
  CGContext(std::size_t width, std::size_t height);
  std::size_t width() const { return image_.width; }
  std::size_t height() const { return image_.height; }
  const CGAffineTransform& ctm() const { return ctm_; }
  void concatCTM(const CGAffineTransform& t);
  // Draws `image`, turned by `orientation`, to fill `rect` in user space; its first displayed row
  // at the rectangle's smallest y, or at its largest with firstRowAtMaxY. Bilinear sampling,
  // source-over compositing; pixels whose centre falls inside the rectangle are drawn.
  void drawImage(const CGImage& image, CGRect rect, bool firstRowAtMaxY, UIImageOrientation orientation);
  CGImageRef makeImage() const;

 private:
  CGImage image_;
  CGAffineTransform ctm_;
};
using CGContextRef = CGContext*;

// Opens a transparent image context of the size (scale 1; fractional sides are rounded up). A
// size that is empty, not finite or beyond kMaxImagePixels opens no context: drawing then does
// nothing and UIGraphicsGetImageFromCurrentImageContext gives none, but the end call still pairs.
void UIGraphicsBeginImageContext(CGSize size);
CGContextRef UIGraphicsGetCurrentContext();
std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext();
void UIGraphicsEndImageContext();

void CGContextTranslateCTM(CGContextRef context, double tx, double ty);
void CGContextRotateCTM(CGContextRef context, double angle);
void CGContextScaleCTM(CGContextRef context, double sx, double sy);
void CGContextDrawImage(CGContextRef context, CGRect rect, const CGImageRef& image);

}  // namespace plat
