#pragma once
// Points, sizes and rectangles in the platform's coordinate space (points, origin top left).

#include <optional>
#include <string_view>

namespace plat {

struct CGPoint {
  double x = 0, y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  double width = 0, height = 0;
  bool operator==(const CGSize&) const = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  bool operator==(const CGRect&) const = default;
  double width() const { return size.width; }
  double height() const { return size.height; }
};

inline CGRect CGRectMake(double x, double y, double w, double h) { return CGRect{{x, y}, {w, h}}; }
inline const CGRect CGRectZero{};

// The 2-D affine transform [a b; c d] plus translation (tx, ty).
struct CGAffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  bool operator==(const CGAffineTransform&) const = default;
  CGPoint apply(CGPoint p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  // Whether the transform can be undone (the determinant is not 0).
  bool invertible() const;
  CGAffineTransform inverted() const;
  // first, then second.
  static CGAffineTransform concat(const CGAffineTransform& first, const CGAffineTransform& second);
};
inline const CGAffineTransform CGAffineTransformIdentity{};
CGAffineTransform CGAffineTransformMakeRotation(double angle);

struct UIColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  bool operator==(const UIColor&) const = default;
  static UIColor blackColor() { return {0, 0, 0, 1}; }
  static UIColor whiteColor() { return {1, 1, 1, 1}; }
  static UIColor clearColor() { return {0, 0, 0, 0}; }
  // The platform's named colours by the name before "Color" ("red" for redColor): black,
  // darkGray, lightGray, white, gray, red, green, blue, cyan, yellow, magenta, orange, purple,
  // brown, clear, lightText, darkText, groupTableViewBackground. Nothing for any other name.
  static std::optional<UIColor> namedColor(std::string_view name);
};

}  // namespace plat
