#include "HBRDisplayContactViewController.h"

namespace harbor {

void HBRDisplayContactViewController::viewWillDisappear(bool animated) {
  plat::ABPersonViewController::viewWillDisappear(animated);
  auto navigation = navigationController();
  if (auto presenter = navigation ? navigation->presentingViewController() : nullptr)
    presenter->dismissViewControllerAnimated(true, nullptr);
}

}  // namespace harbor
