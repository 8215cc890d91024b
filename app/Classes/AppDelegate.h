#pragma once
// The application delegate named at start ("AppDelegate"): it makes this application's
// container, MainViewController, and lets the base launch it.
#include <functional>

#include "HBRAppDelegate.h"
#include "MainViewController.h"

namespace harbor {

class AppDelegate : public HBRAppDelegate {
 public:
  // Runs on the new container before its view loads, on every launch from now on (the runner
  // hands the container its preference overrides this way). Null: nothing.
  using ContainerConfigurator = std::function<void(MainViewController&)>;
  static void setContainerConfigurator(ContainerConfigurator configurator);

  bool applicationDidFinishLaunchingWithOptions(const plat::UIApplicationPtr& application,
                                                const plat::Dictionary& launchOptions) override;
};

}  // namespace harbor
