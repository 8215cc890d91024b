#include "AppDelegate.h"

namespace harbor {
namespace {
AppDelegate::ContainerConfigurator& configurator() {
  static AppDelegate::ContainerConfigurator* slot = new AppDelegate::ContainerConfigurator();
  return *slot;
}
}  // namespace

void AppDelegate::setContainerConfigurator(ContainerConfigurator value) { configurator() = std::move(value); }

bool AppDelegate::applicationDidFinishLaunchingWithOptions(const plat::UIApplicationPtr& application,
                                                           const plat::Dictionary& launchOptions) {
  auto controller = std::make_shared<MainViewController>();
  controller->init();
  if (configurator()) configurator()(*controller);
  setViewController(controller);
  return HBRAppDelegate::applicationDidFinishLaunchingWithOptions(application, launchOptions);
}

}  // namespace harbor
