#include "MainViewController.h"

#include "plat/uikit/UIView.h"

namespace harbor {

void MainViewController::initWithNibNameBundle(const std::optional<std::string>& nibName,
                                               const plat::NSBundlePtr& bundle) {
  HBRViewController::initWithNibNameBundle(nibName, bundle);
}

void MainViewController::init() { HBRViewController::init(); }

void MainViewController::didReceiveMemoryWarning() { HBRViewController::didReceiveMemoryWarning(); }

void MainViewController::viewDidLoad() { HBRViewController::viewDidLoad(); }

void MainViewController::viewDidUnload() { HBRViewController::viewDidUnload(); }

bool MainViewController::shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation orientation) {
  return HBRViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

void MainViewController::viewWillAppear(bool animated) {
  // Pages that do not paint their own background show black, not white, while they load.
  if (auto view = std::dynamic_pointer_cast<plat::UIView>(webView()))
    view->setBackgroundColor(plat::UIColor::blackColor());
  HBRViewController::viewWillAppear(animated);
}

}  // namespace harbor
