#include "ScreenWatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "plat/dispatch/RunLoop.h"
#include "plat/foundation/Log.h"
#include "plat/foundation/Strings.h"
#include "plat/uikit/UIApplication.h"
#include "plat/uikit/UIApplicationDelegate.h"
#include "plat/uikit/UIImageView.h"
#include "plat/uikit/UIScreen.h"
#include "plat/uikit/UIWindow.h"

namespace harbor::runner {
namespace {

struct Screen {
  bool barHidden = false;
  long barStyle = 0;
  std::optional<plat::UIColor> barColor;  // a coloured strip where the bar is
  std::optional<std::string> splash;      // the image covering the screen, by name
  bool splashFading = false;
  bool operator==(const Screen&) const = default;
};

void look(const plat::UIViewPtr& view, const plat::CGRect& bar, const plat::CGSize& screen, Screen& seen) {
  if (view->isHidden()) return;
  if (auto image = std::dynamic_pointer_cast<plat::UIImageView>(view)) {
    plat::CGSize size = image->frame().size;
    bool covers = size.width >= screen.width && size.height >= screen.height;
    bool turnedCovers = size.width >= screen.height && size.height >= screen.width;
    if ((covers || turnedCovers) && image->image()) {
      seen.splash = image->image()->name().empty() ? "(unnamed)" : image->image()->name();
      seen.splashFading = image->alpha() == 0;
    }
  } else if (view->backgroundColor() && bar.height() > 0 && view->frame().origin.y == 0 &&
             view->frame().height() == bar.height()) {
    seen.barColor = view->backgroundColor();
  }
  for (const auto& child : view->subviews()) look(child, bar, screen, seen);
}

Screen lookAtTheScreen() {
  Screen seen;
  auto app = plat::UIApplication::sharedApplication();
  seen.barHidden = app->isStatusBarHidden();
  seen.barStyle = app->statusBarStyle();
  auto delegate = app->delegate();
  if (auto window = delegate ? delegate->window() : nullptr) {
    look(window, app->statusBarFrame(), plat::UIScreen::mainScreen().bounds().size, seen);
  }
  if (seen.barHidden) seen.barColor.reset();
  return seen;
}

void report(const Screen& before, const Screen& now) {
  if (now.barHidden != before.barHidden) plat::NSLog(now.barHidden ? "harbor: status bar hidden" : "harbor: status bar shown");
  if (now.barStyle != before.barStyle) {
    plat::NSLog(now.barStyle == plat::UIStatusBarStyleLightContent ? "harbor: status bar style light content"
                                                                    : "harbor: status bar style default");
  }
  if (now.barColor != before.barColor && now.barColor) {
    plat::NSLog("harbor: status bar background " + hexColor(*now.barColor));
  }
  if (now.splash != before.splash) plat::NSLog(now.splash ? "harbor: splash '" + *now.splash + "' shown" : "harbor: splash gone");
  if (now.splash && now.splashFading && (!before.splashFading || now.splash != before.splash)) {
    plat::NSLog("harbor: splash fading");
  }
}

}  // namespace

std::string hexColor(const plat::UIColor& color) {
  auto byte = [](double v) { return static_cast<unsigned>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  return plat::format("#%02X%02X%02X", byte(color.red), byte(color.green), byte(color.blue));
}

std::optional<std::pair<plat::CGSize, double>> parseScreen(const std::string& text) {
  char* end = nullptr;
  double w = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != 'x') return std::nullopt;
  const char* p = end + 1;
  double h = std::strtod(p, &end);
  if (end == p) return std::nullopt;
  double scale = 2;
  if (*end == '@') {
    p = end + 1;
    scale = std::strtod(p, &end);
    if (end == p || scale < 1 || scale > 4) return std::nullopt;
  }
  if (*end != '\0' || !(w >= 1 && w <= 10000) || !(h >= 1 && h <= 10000)) return std::nullopt;
  return std::make_pair(plat::CGSize{w, h}, scale);
}

void watchTheScreen() {
  auto last = std::make_shared<Screen>();
  plat::RunLoop::main().addTurnObserver([last] {
    Screen now = lookAtTheScreen();
    if (now == *last) return;
    report(*last, now);
    *last = now;
  });
}

}  // namespace harbor::runner
