#include "plat/uikit/UIGraphics.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace plat {
namespace {

// Begin/End pairs per thread; an entry without a context stands for a refused size.
thread_local std::vector<std::unique_ptr<CGContext>> contextStack;

// Displayed (u, v) in [0, 1] to the stored bitmap's (s, t), per orientation.
CGPoint storedPoint(UIImageOrientation orientation, double u, double v) {
  switch (orientation) {
    case UIImageOrientationDown: return {1 - u, 1 - v};
    case UIImageOrientationLeft: return {1 - v, u};
    case UIImageOrientationRight: return {v, 1 - u};
    case UIImageOrientationUpMirrored: return {1 - u, v};
    case UIImageOrientationDownMirrored: return {u, 1 - v};
    case UIImageOrientationLeftMirrored: return {v, u};
    case UIImageOrientationRightMirrored: return {1 - v, 1 - u};
    case UIImageOrientationUp:
    default: return {u, v};
  }
}

// Premultiplied bilinear sample at bitmap coordinates (x, y) in pixels.
void sample(const CGImage& image, double x, double y, double out[4]) {
  double fx = x - 0.5, fy = y - 0.5;
  double x0f = std::floor(fx), y0f = std::floor(fy);
  double wx = fx - x0f, wy = fy - y0f;
  auto clampIndex = [](double v, std::size_t size) {
    return static_cast<std::size_t>(std::clamp(v, 0.0, static_cast<double>(size - 1)));
  };
  std::size_t xs[2] = {clampIndex(x0f, image.width), clampIndex(x0f + 1, image.width)};
  std::size_t ys[2] = {clampIndex(y0f, image.height), clampIndex(y0f + 1, image.height)};
  double weights[2][2] = {{(1 - wx) * (1 - wy), wx * (1 - wy)}, {(1 - wx) * wy, wx * wy}};
  for (int k = 0; k < 4; ++k) out[k] = 0;
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < 2; ++i) {
      const std::uint8_t* p = image.pixel(xs[i], ys[j]);
      double a = p[3] / 255.0, w = weights[j][i];
      out[0] += w * p[0] * a;
      out[1] += w * p[1] * a;
      out[2] += w * p[2] * a;
      out[3] += w * a;
    }
  }
}

std::uint8_t toByte(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

bool finite(CGRect r) {
  return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
         std::isfinite(r.size.height);
}

}  // namespace

bool CGAffineTransform::invertible() const {
  double det = a * d - b * c;
  return std::isfinite(det) && det != 0;
}

CGAffineTransform CGAffineTransform::inverted() const {
  double det = a * d - b * c;
  CGAffineTransform inv{d / det, -b / det, -c / det, a / det, 0, 0};
  inv.tx = -(inv.a * tx + inv.c * ty);
  inv.ty = -(inv.b * tx + inv.d * ty);
  return inv;
}

CGAffineTransform CGAffineTransform::concat(const CGAffineTransform& t1, const CGAffineTransform& t2) {
  return {t1.a * t2.a + t1.b * t2.c,         t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,         t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGContext::CGContext(std::size_t width, std::size_t height) {
  image_.width = width;
  image_.height = height;
  image_.rgba.assign(width * height * 4, 0);
}

void CGContext::concatCTM(const CGAffineTransform& t) { ctm_ = CGAffineTransform::concat(t, ctm_); }

void CGContext::drawImage(const CGImage& source, CGRect rect, bool firstRowAtMaxY, UIImageOrientation orientation) {
  if (source.width == 0 || source.height == 0 || !finite(rect) || rect.size.width == 0 || rect.size.height == 0 ||
      !ctm_.invertible()) {
    return;
  }
  // The device-space box around the rectangle's corners bounds the pixels to visit.
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (double cx : {rect.origin.x, rect.origin.x + rect.size.width}) {
    for (double cy : {rect.origin.y, rect.origin.y + rect.size.height}) {
      CGPoint p = ctm_.apply({cx, cy});
      minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
  }
  if (!std::isfinite(minX) || !std::isfinite(maxX) || !std::isfinite(minY) || !std::isfinite(maxY)) return;
  auto firstPixel = [](double v, std::size_t size) {
    return static_cast<std::size_t>(std::clamp(std::floor(v), 0.0, static_cast<double>(size)));
  };
  std::size_t x0 = firstPixel(minX, image_.width), x1 = firstPixel(std::ceil(maxX), image_.width);
  std::size_t y0 = firstPixel(minY, image_.height), y1 = firstPixel(std::ceil(maxY), image_.height);

  const CGAffineTransform toUser = ctm_.inverted();
  // Centres that land on an edge within rounding still count as inside.
  constexpr double slack = 1e-6;
  for (std::size_t y = y0; y < y1; ++y) {
    for (std::size_t x = x0; x < x1; ++x) {
      CGPoint p = toUser.apply({x + 0.5, y + 0.5});
      double u = (p.x - rect.origin.x) / rect.size.width;
      double v = (p.y - rect.origin.y) / rect.size.height;
      if (u < -slack || u > 1 + slack || v < -slack || v > 1 + slack) continue;
      if (firstRowAtMaxY) v = 1 - v;
      CGPoint st = storedPoint(orientation, std::clamp(u, 0.0, 1.0), std::clamp(v, 0.0, 1.0));
      double src[4];
      sample(source, st.x * static_cast<double>(source.width), st.y * static_cast<double>(source.height), src);
      std::uint8_t* dst = &image_.rgba[(y * image_.width + x) * 4];
      double da = dst[3] / 255.0, sa = src[3];
      double outA = sa + da * (1 - sa);
      if (outA <= 0) continue;
      for (int k = 0; k < 3; ++k) dst[k] = toByte((src[k] + dst[k] * da * (1 - sa)) / outA);
      dst[3] = toByte(outA * 255.0);
    }
  }
}

CGImageRef CGContext::makeImage() const { return std::make_shared<const CGImage>(image_); }

void UIGraphicsBeginImageContext(CGSize size) {
  std::unique_ptr<CGContext> context;
  if (std::isfinite(size.width) && std::isfinite(size.height) && size.width > 0 && size.height > 0) {
    double w = std::ceil(size.width), h = std::ceil(size.height);
    if (w * h <= static_cast<double>(kMaxImagePixels)) {
      context = std::make_unique<CGContext>(static_cast<std::size_t>(w), static_cast<std::size_t>(h));
    }
  }
  contextStack.push_back(std::move(context));
}

CGContextRef UIGraphicsGetCurrentContext() { return contextStack.empty() ? nullptr : contextStack.back().get(); }

std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
  CGContextRef context = UIGraphicsGetCurrentContext();
  if (!context) return nullptr;
  return UIImage::imageWithCGImage(context->makeImage());
}

void UIGraphicsEndImageContext() {
  if (!contextStack.empty()) contextStack.pop_back();
}

void CGContextTranslateCTM(CGContextRef context, double tx, double ty) {
  if (context) context->concatCTM({1, 0, 0, 1, tx, ty});
}

void CGContextRotateCTM(CGContextRef context, double angle) {
  if (context) context->concatCTM({std::cos(angle), std::sin(angle), -std::sin(angle), std::cos(angle), 0, 0});
}

void CGContextScaleCTM(CGContextRef context, double sx, double sy) {
  if (context) context->concatCTM({sx, 0, 0, sy, 0, 0});
}

void CGContextDrawImage(CGContextRef context, CGRect rect, const CGImageRef& image) {
  if (context && image) context->drawImage(*image, rect, true, UIImageOrientationUp);
}

}  // namespace plat
