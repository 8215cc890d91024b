#pragma once
// The container of this application. It adds nothing to the container but a black background
// behind the pages; the overrides are where an application would put its own start-up work.
#include <optional>
#include <string>

#include "HBRViewController.h"

namespace harbor {

class MainViewController : public HBRViewController {
 public:
  void initWithNibNameBundle(const std::optional<std::string>& nibName, const plat::NSBundlePtr& bundle) override;
  void init() override;
  void didReceiveMemoryWarning() override;
  void viewDidLoad() override;
  void viewDidUnload() override;
  bool shouldAutorotateToInterfaceOrientation(plat::UIInterfaceOrientation orientation) override;
  // Blackens the web view's background, then lets the base go on.
  void viewWillAppear(bool animated) override;
};

}  // namespace harbor
