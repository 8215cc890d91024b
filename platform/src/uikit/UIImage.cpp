#include "plat/uikit/UIImage.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs <cstdio> before it; jerror.h names the warnings.
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "plat/foundation/NSBundle.h"
#include "plat/foundation/NSFileManager.h"
#include "plat/foundation/NSPathUtilities.h"
#include "plat/foundation/Strings.h"
#include "plat/imageio/ImageMetadata.h"
#include "plat/uikit/UIGraphics.h"
#include "plat/uikit/UIScreen.h"

namespace plat {
namespace {

bool isSideways(UIImageOrientation o) {
  return o == UIImageOrientationLeft || o == UIImageOrientationRight || o == UIImageOrientationLeftMirrored ||
         o == UIImageOrientationRightMirrored;
}

bool fits(std::size_t width, std::size_t height) {
  return width > 0 && height > 0 && width <= kMaxImagePixels / height;
}

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the
// decode or encode call, whose frame holds only plain C state.
struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated;
};

void jpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpegSilence(j_common_ptr) {}
// libjpeg pads a picture whose data ends early with grey and only warns; such a picture is a
// partial one and is refused.
void jpegNoteWarning(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) reinterpret_cast<JpegError*>(info->err)->truncated = true;
}

// Decodes into *out; false for anything libjpeg refuses or a picture too large to hold.
bool decodeJpeg(const Data& data, CGImage* out) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpegErrorExit;
  error.mgr.output_message = jpegSilence;
  error.mgr.emit_message = jpegNoteWarning;
  error.truncated = false;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !fits(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  out->width = info.output_width;
  out->height = info.output_height;
  out->rgba.resize(out->width * out->height * 4);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &out->rgba[std::size_t{info.output_scanline} * out->width * 4];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return !error.truncated;
}

// The RGB rows handed to libjpeg; transparent pixels are flattened onto black.
bool encodeJpeg(const CGImage& image, int quality, unsigned char** buffer, unsigned long* size,
                const std::uint8_t* rgb) {
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = jpegErrorExit;
  error.mgr.output_message = jpegSilence;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[std::size_t{info.next_scanline} * image.width * 3]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

// Reads the PNG's header into png; false (and nothing held) when it is no PNG of a size we take.
bool readPngHeader(const Data& data, png_image& png) {
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) return false;
  if (!png_image_begin_read_from_memory(&png, data.data(), data.size())) return false;
  if (!fits(png.width, png.height)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

bool decodePng(const Data& data, CGImage* out) {
  png_image png;
  if (!readPngHeader(data, png)) return false;
  png.format = PNG_FORMAT_RGBA;
  out->width = png.width;
  out->height = png.height;
  out->rgba.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, out->rgba.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

// JPEG bytes of the bitmap as stored; empty when libjpeg refuses it.
Data jpegOf(const CGImage& bitmap, double compressionQuality) {
  std::vector<std::uint8_t> rgb(bitmap.width * bitmap.height * 3);
  for (std::size_t i = 0, n = bitmap.width * bitmap.height; i < n; ++i) {
    const std::uint8_t* p = &bitmap.rgba[i * 4];
    for (int k = 0; k < 3; ++k) rgb[i * 3 + k] = static_cast<std::uint8_t>(p[k] * p[3] / 255);
  }
  double q = std::isfinite(compressionQuality) ? std::clamp(compressionQuality, 0.0, 1.0) : 1.0;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  bool ok = encodeJpeg(bitmap, static_cast<int>(std::lround(q * 100)), &buffer, &size, rgb.data());
  Data out;
  if (ok && buffer) out.assign(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// The orientation a JPEG's Exif segment states; up when it states none.
UIImageOrientation jpegOrientation(const Data& jpeg) {
  auto properties = CGImageSourceCopyProperties(jpeg);
  if (!properties) return UIImageOrientationUp;
  const Value& orientation = (*properties)[kCGImagePropertyTIFFDictionary]["Orientation"];
  return orientation.isNumber() ? UIImageOrientationFromExif(static_cast<long>(orientation.asInt()))
                                : UIImageOrientationUp;
}

// The bitmap as the image is displayed: redrawn when its orientation turns it.
CGImageRef displayedBitmap(const UIImage& image) {
  CGImageRef bitmap = image.CGImage();
  if (!bitmap || image.imageOrientation() == UIImageOrientationUp) return bitmap;
  bool sideways = isSideways(image.imageOrientation());
  std::size_t w = sideways ? bitmap->height : bitmap->width, h = sideways ? bitmap->width : bitmap->height;
  UIGraphicsBeginImageContext(CGSize{static_cast<double>(w), static_cast<double>(h)});
  CGImageRef out;
  if (CGContextRef context = UIGraphicsGetCurrentContext()) {
    context->drawImage(*bitmap, CGRectMake(0, 0, static_cast<double>(w), static_cast<double>(h)), false,
                       image.imageOrientation());
    out = context->makeImage();
  }
  UIGraphicsEndImageContext();
  return out;
}

}  // namespace

// Exif counts 1 to 8: up, up mirrored, down, down mirrored, left mirrored, right, right
// mirrored, left (the way the stored rows must be turned to show the picture upright).
UIImageOrientation UIImageOrientationFromExif(long exifOrientation) {
  static constexpr UIImageOrientation kOrientations[] = {
      UIImageOrientationUp,           UIImageOrientationUpMirrored, UIImageOrientationDown,
      UIImageOrientationDownMirrored, UIImageOrientationLeftMirrored, UIImageOrientationRight,
      UIImageOrientationRightMirrored, UIImageOrientationLeft};
  return exifOrientation >= 1 && exifOrientation <= 8 ? kOrientations[exifOrientation - 1] : UIImageOrientationUp;
}

int ExifOrientationFromUIImageOrientation(UIImageOrientation orientation) {
  for (int exif = 1; exif <= 8; ++exif) {
    if (UIImageOrientationFromExif(exif) == orientation) return exif;
  }
  return 1;
}

CGImageRef CGImageCreateBlank(std::size_t width, std::size_t height) {
  if (!fits(width, height)) return nullptr;
  auto image = std::make_shared<CGImage>();
  image->width = width;
  image->height = height;
  image->rgba.assign(width * height * 4, 0);
  return image;
}

bool UIImage::initWithCGImage(CGImageRef image, double scale, UIImageOrientation orientation) {
  if (!image || !fits(image->width, image->height) || image->rgba.size() != image->width * image->height * 4 ||
      !std::isfinite(scale) || scale <= 0 || orientation < UIImageOrientationUp ||
      orientation > UIImageOrientationRightMirrored) {
    return false;
  }
  image_ = std::move(image);
  scale_ = scale;
  orientation_ = orientation;
  return true;
}

bool UIImage::initWithData(const Data& data) {
  auto bitmap = std::make_shared<plat::CGImage>();
  bool decoded = false;
  UIImageOrientation orientation = UIImageOrientationUp;
  if (data.size() >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) {
    decoded = decodeJpeg(data, bitmap.get());
    if (decoded) orientation = jpegOrientation(data);
  } else if (data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0) {
    decoded = decodePng(data, bitmap.get());
  }
  return decoded && initWithCGImage(std::move(bitmap), 1.0, orientation);
}

std::shared_ptr<UIImage> UIImage::imageWithCGImage(CGImageRef image, double scale, UIImageOrientation orientation) {
  auto out = std::make_shared<UIImage>();
  return out->initWithCGImage(std::move(image), scale, orientation) ? out : nullptr;
}

std::shared_ptr<UIImage> UIImage::imageWithData(const Data& data) {
  auto out = std::make_shared<UIImage>();
  return out->initWithData(data) ? out : nullptr;
}

CGImageRef UIImage::CGImage() const {
  if (pending_) {
    std::call_once(pending_->once, [this] {
      auto bitmap = std::make_shared<plat::CGImage>();
      if (decodePng(pending_->bytes, bitmap.get())) image_ = std::move(bitmap);
      pending_->bytes = Data();
    });
  }
  return image_;
}

CGSize UIImage::size() const {
  std::size_t width = pending_ ? pending_->width : image_ ? image_->width : 0;
  std::size_t height = pending_ ? pending_->height : image_ ? image_->height : 0;
  if (width == 0 || height == 0) return {};
  double w = static_cast<double>(width) / scale_, h = static_cast<double>(height) / scale_;
  return isSideways(orientation_) ? CGSize{h, w} : CGSize{w, h};
}

void UIImage::drawInRect(CGRect rect) const {
  CGImageRef bitmap = CGImage();
  if (CGContextRef context = UIGraphicsGetCurrentContext(); context && bitmap) {
    context->drawImage(*bitmap, rect, false, orientation_);
  }
}

Data UIImageJPEGRepresentation(const UIImage& image, double compressionQuality) {
  CGImageRef bitmap = image.CGImage();
  if (!bitmap) return {};
  Data jpeg = jpegOf(*bitmap, compressionQuality);
  const UIImageOrientation orientation = image.imageOrientation();
  if (jpeg.empty() || orientation == UIImageOrientationUp) return jpeg;
  Dictionary metadata{{kCGImagePropertyTIFFDictionary,
                       Value(Dictionary{{"Orientation", Value(ExifOrientationFromUIImageOrientation(orientation))}})}};
  if (auto tagged = CGImageDestinationCopyJPEGWithMetadata(jpeg, metadata)) return std::move(*tagged);
  // Untagged, the stored bitmap would show turned: the picture is drawn upright instead.
  CGImageRef upright = displayedBitmap(image);
  return upright ? jpegOf(*upright, compressionQuality) : Data{};
}

Data UIImagePNGRepresentation(const UIImage& image) {
  CGImageRef bitmap = displayedBitmap(image);
  if (!bitmap) return {};
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(bitmap->width);
  png.height = static_cast<png_uint_32>(bitmap->height);
  png.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, bitmap->rgba.data(), 0, nullptr)) return {};
  Data out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, bitmap->rgba.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  auto bundle = NSBundle::mainBundle();
  std::vector<std::pair<std::string, double>> candidates;
  if (!pathExtension(name).empty()) {
    candidates.emplace_back(name, 1.0);
  } else {
    double scale = UIScreen::mainScreen().scale();
    if (scale > 1) candidates.emplace_back(format("%s@%gx.png", name.c_str(), scale), scale);
    candidates.emplace_back(name + ".png", 1.0);
  }
  for (const auto& [file, scale] : candidates) {
    auto path = bundle->pathForResource(file, "");
    if (!path) continue;
    std::optional<Data> bytes = NSFileManager::defaultManager().contentsAtPath(*path);
    if (!bytes) continue;
    png_image png;
    if (readPngHeader(*bytes, png)) {
      auto image = std::make_shared<UIImage>();
      image->pending_ = std::make_shared<PendingDecode>();
      image->pending_->width = png.width;
      image->pending_->height = png.height;
      png_image_free(&png);
      image->pending_->bytes = std::move(*bytes);
      image->scale_ = scale;
      image->name_ = name;
      return image;
    }
    auto decoded = imageWithData(*bytes);
    if (!decoded) continue;
    auto image = imageWithCGImage(decoded->CGImage(), scale, decoded->imageOrientation());
    image->name_ = name;
    return image;
  }
  return nullptr;
}

}  // namespace plat
